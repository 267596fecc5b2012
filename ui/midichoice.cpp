// The "Entrada MIDI:" choice on the preferences' driver page.
#include "midichoice.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QWidget>

namespace rimbal {

MidiChoice::MidiChoice(QWidget* page) : m_combo(new QComboBox(page)) {
    auto* label = new QLabel(QStringLiteral("Entrada MIDI:"), page);
    label->setObjectName(QStringLiteral("Label_EntradaMidi"));
    m_combo->setObjectName(QStringLiteral("cb_entradamidi"));
    // Port names can be long; the list must not widen the dialog.
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo->setMinimumContentsLength(20);
    label->setBuddy(m_combo);
    if (auto* layout = qobject_cast<QBoxLayout*>(page->layout())) {
        layout->addWidget(label);
        layout->addWidget(m_combo);
    }
}

void MidiChoice::Fill(const QStringList& ports, const QString& current) {
    const QSignalBlocker block(m_combo);
    m_combo->clear();
    m_combo->addItem(QStringLiteral("(nenhuma)"), QString());
    for (const QString& p : ports) m_combo->addItem(p, p);
    if (current.isEmpty()) {
        m_combo->setCurrentIndex(0);
        return;
    }
    int at = m_combo->findData(current);
    if (at < 0) {
        m_combo->addItem(current + QStringLiteral(" (desconectada)"), current);
        at = m_combo->count() - 1;
    }
    m_combo->setCurrentIndex(at);
}

QString MidiChoice::Chosen() const { return m_combo->currentData().toString(); }

}  // namespace rimbal
