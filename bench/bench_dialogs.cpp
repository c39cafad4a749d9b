// The process's memory across many Open commands that each fail: the real window, file dialog
// and message box, driven from a timer. Prints the resident size and the heap in use every
// --every dialogs, so that growth can be told from a cache that levels off.
// Usage: bench_dialogs [--count 600] [--every 50] [--type] [--trim] [--pixmap-cache KB]
//   --type types the name key by key, as a person would, so that the dialog is drawn and
//          its name completed.
//   --trim hands freed heap back to the system before each figure (malloc_trim).
//   --pixmap-cache sets the limit of Qt's pixmap cache, which keeps the icons each new dialog
//          draws (10240 KB unless set).
#include "appidentity.h"
#include "form1.h"
#include "posixstatefolder.h"
#include "qtcommondialog.h"
#include "qtform.h"
#include "qtrecoveryjournal.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"

#include <QAction>
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmapCache>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <malloc.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

double residentMegabytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

double heapInUseMegabytes()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024 * 1024);
}

int openFiles()
{
    return int(QDir(u"/proc/self/fd"_s).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

int option(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppIdentity::apply();
    const QStringList args = app.arguments();
    const int count = option(args, u"--count"_s, 600);
    const int every = option(args, u"--every"_s, 50);
    const bool trim = args.contains(u"--trim"_s);
    const bool type = args.contains(u"--type"_s);
    if (const int limit = option(args, u"--pixmap-cache"_s, 0); limit > 0)
        QPixmapCache::setCacheLimit(limit);

    // A quoted item that never ends: reading fails at the end of the file.
    QTemporaryDir folder;
    const QString broken = folder.filePath(u"broken.txt"_s);
    QFile file(broken);
    if (!file.open(QIODevice::WriteOnly) || file.write("\"never closed\r\n") < 0)
        return 1;
    file.close();

    QtMessageBoxes messageBoxes;
    QtClipboard clipboard;
    QtScreenPointer screen;
    QtSequentialFiles files;
    QtForm window(messageBoxes);
    QtCommonDialog commonDialog(&window);
    QtNumberInput numberInput;
    PosixStateFolder stateFolder;
    QtRecoveryJournal journal(stateFolder, window.textBox());
    Form1 form({ window, window.textBox(), commonDialog, clipboard, screen, messageBoxes, files,
                 window.findDialog(), numberInput, journal });
    window.start(form.design());
    QAction *open = window.findChild<QAction *>(u"File_Open"_s);
    if (!open)
        return 1;

    // Plays the user: types the file's name into the file dialog and closes the failure's message.
    int reported = 0;
    QTimer player;
    player.setInterval(5);
    QObject::connect(&player, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && dialog->isVisible()) {
            if (auto *edit = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s)) {
                if (type) {
                    edit->clear();
                    QTest::keyClicks(edit, broken);
                    // Return would take the completion offered instead of accepting the name.
                    if (edit->completer() && edit->completer()->popup())
                        edit->completer()->popup()->hide();
                } else {
                    edit->setText(broken);
                }
                QTest::keyClick(edit, Qt::Key_Return);
            }
        } else if (auto *box = qobject_cast<QMessageBox *>(modal); box && box->isVisible()) {
            ++reported;
            box->accept();
        }
    });
    player.start();

    std::printf("%8s %10s %12s %10s %9s\n", "dialogs", "RSS MB", "heap MB", "open files",
                "reported");
    const auto print = [&](int done) {
        QCoreApplication::processEvents();
        if (trim)
            malloc_trim(0);
        std::printf("%8d %10.1f %12.1f %10d %9d\n", done, residentMegabytes(), heapInUseMegabytes(),
                    openFiles(), reported);
        std::fflush(stdout);
    };
    print(0);
    for (int i = 1; i <= count; ++i) {
        open->trigger();
        if (i % every == 0 || i == 1)
            print(i);
    }
    return reported == count ? 0 : 2;
}
