// The "Entrada MIDI:" choice of the preferences' driver page.
#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QWidget;

namespace rimbal {

class MidiChoice {
public:
    // Adds the label and the list under the page's other controls.
    explicit MidiChoice(QWidget* page);
    // "(nenhuma)" and the ports. A chosen port that is missing now stays
    // listed and chosen, so accepting other changes does not lose it.
    void Fill(const QStringList& ports, const QString& current);
    // The chosen port's name; empty for none.
    QString Chosen() const;
    QComboBox* combo() const { return m_combo; }

private:
    QComboBox* m_combo;
};

}  // namespace rimbal
