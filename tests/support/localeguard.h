// Sets the default locale for the life of a scope.
#pragma once

#include <QLocale>

class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& l) : old_(QLocale()) { QLocale::setDefault(l); }
    ~LocaleGuard() { QLocale::setDefault(old_); }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    QLocale old_;
};
