// The channel display's canvas.
#include "paintcanais.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace rimbal {

void TPaintCanais::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    p.fillRect(e->rect(), Qt::white);
    if (onPaint) onPaint(p, e->rect());
    p.setPen(Qt::black);
    for (const QLine& l : m_lines) p.drawLine(l);
}

void TPaintCanais::mousePressEvent(QMouseEvent* e) { m_from = e->position().toPoint(); }

void TPaintCanais::mouseReleaseEvent(QMouseEvent* e) {
    m_lines.append(QLine(m_from, e->position().toPoint()));
    update();
}

}  // namespace rimbal
