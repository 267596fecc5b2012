// The channel display's canvas: it paints what its owner draws and keeps the
// lines the user draws with the mouse until the next full repaint.
#pragma once

#include <QLine>
#include <QList>
#include <QWidget>

#include <functional>

namespace rimbal {

class TPaintCanais : public QWidget {
    Q_OBJECT
public:
    explicit TPaintCanais(QWidget* parent = nullptr) : QWidget(parent) {}
    std::function<void(QPainter&, const QRect&)> onPaint;
    // Repaints everything and forgets the drawn lines.
    void repaintAll() {
        m_lines.clear();
        update();
    }
    const QList<QLine>& lines() const { return m_lines; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QPoint m_from;
    QList<QLine> m_lines;
};

}  // namespace rimbal
