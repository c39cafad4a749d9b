#include "saveintent.h"

#include "failure.h"
#include "statefolder.h"

#include <QList>
#include <QRandomGenerator>

#include <new>

using namespace Qt::StringLiterals;

namespace {

// One line a step: a keyword, then fields, paths in hexadecimal (they may hold any byte but
// NUL), numbers in decimal. A line counts only once its line feed is there.
constexpr QByteArrayView Magic = "quorvex-save 1";

QByteArray line(std::initializer_list<QByteArray> fields)
{
    return QByteArrayList(fields).join(' ') + '\n';
}

QByteArray number(quint64 value) { return QByteArray::number(value); }

bool isHex(QByteArrayView text)
{
    if (text.size() % 2 != 0)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// A file name: no slash, not empty, not "." nor "..".
bool isName(const QByteArray &name)
{
    return !name.isEmpty() && name.size() <= 255 && !name.contains('/') && !name.contains('\0')
        && name != "." && name != "..";
}

bool isFolder(const QByteArray &folder)
{
    return folder.startsWith('/') && folder.size() < 4096 && !folder.contains('\0');
}

struct Fields
{
    QList<QByteArray> items;
    bool ok = true;

    QByteArray path(qsizetype index)
    {
        if (index >= items.size() || !isHex(items[index])) {
            ok = false;
            return {};
        }
        return QByteArray::fromHex(items[index]);
    }
    quint64 count(qsizetype index)
    {
        bool converted = false;
        const quint64 value = index < items.size() ? items[index].toULongLong(&converted) : 0;
        ok = ok && converted;
        return value;
    }
};

} // namespace

SaveIntent::SaveIntent(StateFolder *state, const QByteArray &folder, const QByteArray &name,
                       std::function<void()> recorded)
    : m_state(state), m_recorded(std::move(recorded))
{
    m_pending = Magic.toByteArray() + '\n' + line({ "target", folder.toHex(), name.toHex() });
}

SaveIntent::~SaveIntent()
{
    if (!m_file)
        return;
    // Removed while still locked, so that no other program's start takes it up meanwhile.
    try {
        m_state->remove(m_name);
    } catch (const Failure &) {
        // Left for the next start, which finds nothing to put right.
    } catch (const std::bad_alloc &) {
    }
}

void SaveIntent::note(const QByteArray &text, bool sync)
{
    if (!m_state || m_unrecorded)
        return;
    if (m_recorded)
        m_recorded();
    try {
        if (!m_file) {
            // A name no other save has: a few tries against the odd clash.
            for (int attempt = 0; !m_file; ++attempt) {
                m_name = Prefix + QString::number(QRandomGenerator::system()->generate64(), 16);
                try {
                    m_file = m_state->create(m_name);
                } catch (const Failure &) {
                    if (attempt == 3)
                        throw;
                }
            }
            m_file->write(m_pending);
            m_pending.clear();
        }
        m_file->write(text);
        if (sync)
            m_file->sync();
    } catch (const Failure &) {
        // Unrecorded from here on; what was written stays true as far as it goes.
        m_unrecorded = true;
        return;
    } catch (const std::bad_alloc &) {
        m_unrecorded = true;
        return;
    }
    if (m_recorded)
        m_recorded();
}

void SaveIntent::temporary(const QByteArray &name) { note(line({ "temporary", name.toHex() })); }

// Unsynced: what a kill leaves is on the disk all the same, and where a power cut loses it the
// repair takes the new contents for partial, or the rewritten file for damaged, and keeps the old.
void SaveIntent::newContentsWhole(qint64 size)
{
    note(line({ "new", number(quint64(size)) }), false);
}

void SaveIntent::backupTemporary(const QByteArray &folder, const QByteArray &name)
{
    note(line({ "backup-temporary", folder.toHex(), name.toHex() }));
}

void SaveIntent::backup(const QByteArray &folder, const QByteArray &name, quint64 device,
                        quint64 inode, quint64 targetDevice, quint64 targetInode)
{
    note(line({ "backup", folder.toHex(), name.toHex(), number(device), number(inode),
                number(targetDevice), number(targetInode) }));
}

void SaveIntent::rewritten() { note(line({ "rewritten" }), false); }

std::optional<SaveRecord> SaveRecord::parse(QByteArrayView bytes)
{
    QList<QByteArray> lines = bytes.toByteArray().split('\n');
    lines.removeLast(); // after the last line feed: a line cut short, or nothing
    if (lines.isEmpty() || lines.first() != Magic)
        return std::nullopt;
    SaveRecord record;
    bool targeted = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        Fields fields { lines[i].split(' ') };
        const QByteArray key = fields.items.first();
        if (key == "target" && fields.items.size() == 3) {
            const QByteArray folder = fields.path(1), name = fields.path(2);
            if (fields.ok && isFolder(folder) && isName(name)) {
                record.folder = folder;
                record.name = name;
                targeted = true;
            }
        } else if (key == "temporary" && fields.items.size() == 2) {
            const QByteArray name = fields.path(1);
            if (fields.ok && isName(name))
                record.temporary = name;
        } else if (key == "new" && fields.items.size() == 2) {
            const quint64 size = fields.count(1);
            if (fields.ok && size < (quint64(1) << 62))
                record.newSize = qint64(size);
        } else if (key == "backup-temporary" && fields.items.size() == 3) {
            const QByteArray folder = fields.path(1), name = fields.path(2);
            if (fields.ok && isFolder(folder) && isName(name)) {
                record.backupTemporaryFolder = folder;
                record.backupTemporary = name;
            }
        } else if (key == "backup" && fields.items.size() == 7) {
            SaveRecord read;
            read.backupFolder = fields.path(1);
            read.backupName = fields.path(2);
            read.backupDevice = fields.count(3);
            read.backupInode = fields.count(4);
            read.targetDevice = fields.count(5);
            read.targetInode = fields.count(6);
            if (fields.ok && isFolder(read.backupFolder) && isName(read.backupName)) {
                record.backupFolder = read.backupFolder;
                record.backupName = read.backupName;
                record.backupDevice = read.backupDevice;
                record.backupInode = read.backupInode;
                record.targetDevice = read.targetDevice;
                record.targetInode = read.targetInode;
            }
        } else if (key == "rewritten" && fields.items.size() == 1) {
            record.rewritten = true;
        }
    }
    if (!targeted)
        return std::nullopt;
    return record;
}
