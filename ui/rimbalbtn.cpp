// The picture button: one picture while enabled, another while disabled.
#include "rimbalbtn.h"

#include <QEvent>
#include <QMouseEvent>

namespace rimbal {

TRimbalBtn::TRimbalBtn(QWidget* parent) : QLabel(parent), m_lastEnabled(isEnabled()) {}

void TRimbalBtn::setPicNormal(const QPixmap& p) {
    m_normal = p;
    setPixmap(p);
}

void TRimbalBtn::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (e->type() != QEvent::EnabledChange || isEnabled() == m_lastEnabled) return;
    m_lastEnabled = isEnabled();
    setPixmap(m_lastEnabled ? m_normal : m_disabled);
}

void TRimbalBtn::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_pressed = true;
    QLabel::mousePressEvent(e);
}

void TRimbalBtn::mouseReleaseEvent(QMouseEvent* e) {
    const bool inside = rect().contains(e->position().toPoint());
    if (m_pressed && e->button() == Qt::LeftButton && inside && isEnabled()) emit clicked();
    m_pressed = false;
    QLabel::mouseReleaseEvent(e);
}

}  // namespace rimbal
