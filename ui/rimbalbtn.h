// A picture button: one picture while enabled, another while disabled.
#pragma once

#include <QLabel>
#include <QPixmap>

namespace rimbal {

class TRimbalBtn : public QLabel {
    Q_OBJECT
public:
    explicit TRimbalBtn(QWidget* parent = nullptr);

    QPixmap PicNormal() const { return m_normal; }
    QPixmap PicDisabled() const { return m_disabled; }
    // Shown at once.
    void setPicNormal(const QPixmap& p);
    // Kept for the next time the button is disabled.
    void setPicDisabled(const QPixmap& p) { m_disabled = p; }

signals:
    void clicked();

protected:
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    bool m_lastEnabled;
    bool m_pressed = false;
    QPixmap m_normal;
    QPixmap m_disabled;
};

}  // namespace rimbal
