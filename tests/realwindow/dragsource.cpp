// A small program that drags a file as a file manager does: pressed and moved with the first
// button, it starts a drag that carries the file's address and, as text, its path. The window is
// titled "Drag source". It prints when the drag ends and goes on running, since the target reads
// the file's address from it after the drop.
//   dragsource <file>
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source : public QWidget
{
public:
    explicit Source(QString file) : m_file(std::move(file))
    {
        setWindowTitle(QStringLiteral("Drag source"));
        resize(160, 120);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override { m_pressed = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton)
            || (event->position().toPoint() - m_pressed).manhattanLength()
                < QApplication::startDragDistance())
            return;
        auto *data = new QMimeData;
        data->setUrls({ QUrl::fromLocalFile(m_file) });
        data->setText(m_file);
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        std::printf("drag ended: %d\n", int(done));
        std::fflush(stdout);
    }

private:
    QString m_file;
    QPoint m_pressed;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    Source source(QString::fromLocal8Bit(argv[1]));
    source.show();
    return app.exec();
}
