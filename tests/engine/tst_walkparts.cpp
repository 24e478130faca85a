// The parts the walk is made of, each against real folders: the stack that keeps a deep walk
// within its descriptors and finds closed folders again as the very folders they were, and the
// bounds that keep a job inside its tree.

#include "engine/folderstack.h"
#include "engine/reasons.h"
#include "engine/treebounds.h"
#include "tests/support/filetree.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using NativeFs::Folder;
using NativeFs::Links;

namespace {

// The folders open in this process.
int openFolders()
{
    int open = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
        open += QFileInfo(fd.symLinkTarget()).isDir() ? 1 : 0;
    return open;
}

} // namespace

class TestWalkParts : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }

    // Forty levels down and back: no more than a bounded number stay open, and every closed
    // folder is found again as itself, with the path of the folder in hand kept throughout.
    void stackKeepsDeepWalksWithinItsDescriptors()
    {
        QString deep = path("root");
        for (int level = 0; level < 40; ++level)
            deep += QStringLiteral("/d%1").arg(level);
        QVERIFY(QDir().mkpath(deep));
        const int before = openFolders();
        FolderStack stack;
        stack.pushRoot(frameAt(Folder::open(native("root"), &m_error)), native("root"));
        std::vector<NativeFs::FolderId> ids{stack.top().sourceId};
        for (int level = 0; level < 40; ++level) {
            Frame frame = frameAt(stack.top().source.openChild(name(level), Links::Stay, &m_error));
            QVERIFY(frame.source.isOpen());
            frame.name = name(level);
            ids.push_back(frame.sourceId);
            stack.push(std::move(frame));
        }
        QCOMPARE(stack.namesBelowRoot().size(), 40u);
        QCOMPARE(stack.path(), QFile::encodeName(deep));
        QVERIFY2(openFolders() - before <= 26, qPrintable(QString::number(openFolders() - before)));
        while (stack.size() > 1) {
            QVERIFY(!stack.pop().source);
            QVERIFY(stack.top().source.isOpen());
            QVERIFY(stack.top().source.id() == ids[stack.size() - 1]);
        }
        QCOMPARE(stack.path(), native("root"));
        QVERIFY(stack.relieve(0) == false); // the root stays open, and nothing else is
    }

    // A closed folder moved away and another put in its place. Found again through ".." from a
    // folder entered directly, wherever it went; by name from above where the folder below it
    // was reached by a link, and there the newcomer is not taken for it: leaving says what was
    // lost, and the folder's remaining work is dropped.
    void stackLosesAFolderReplacedWhileClosed()
    {
        QVERIFY(QDir().mkpath(path("root/a/b/c")));
        FolderStack stack;
        stack.pushRoot(frameAt(Folder::open(native("root"), &m_error)), native("root"));
        for (const char *level : {"a", "b", "c"}) {
            Frame frame = frameAt(stack.top().source.openChild(level, Links::Stay, &m_error));
            frame.name = level;
            frame.sourceByLink = level[0] == 'b';
            frame.folders.add(NativeFs::EntryKind::Folder, "later", 5, false);
            stack.push(std::move(frame));
        }
        QVERIFY(stack.relieve(1)); // a and b closed, c in hand
        QVERIFY(QDir().rename(path("root/a"), path("moved")) && QDir().mkpath(path("root/a/b")));
        QVERIFY2(!stack.pop().source, "b is found again through c, wherever it went");
        const FolderStack::Lost lost = stack.pop(); // a must be found by name: a newcomer
        QVERIFY(lost.source);
        QCOMPARE(lost.path, native("root/a"));
        QVERIFY2(!stack.top().hasFoldersLeft() && stack.top().filesDone,
                 "the newcomer's folders are not walked");
    }

    // What holds the source or the destination, reached by a link, is refused with its reason;
    // a link into the tree is no loss; one into the copy is refused.
    void boundsRefuseWhatHoldsTheRoots_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("refused"); // the reason; "-" for none at all
        const QString holdsSource = Reasons::text(Reasons::Reason::HoldsSource);
        QTest::newRow("the folder above the source") << "home" << holdsSource;
        QTest::newRow("the root of all") << "/" << holdsSource;
        QTest::newRow("a folder of the tree") << "home/src/a"
                                              << "";
        QTest::newRow("what holds the destination")
            << "stick" << Reasons::text(Reasons::Reason::HoldsDestination);
        QTest::newRow("into the copy")
            << "stick/copy/old" << Reasons::text(Reasons::Reason::IntoDestination);
        QTest::newRow("somewhere else") << "elsewhere"
                                        << "-";
    }
    void boundsRefuseWhatHoldsTheRoots()
    {
        QFETCH(QString, target);
        QFETCH(QString, refused);
        QVERIFY(QDir().mkpath(path("home/src/a")) && QDir().mkpath(path("stick/copy/old")) &&
                QDir().mkpath(path("elsewhere")));
        QVERIFY(QFile::link(target.startsWith('/') ? target : path(target), path("home/src/l")));
        TreeBounds bounds;
        bounds.find(native("home/src"), native("stick/copy"));
        const Folder root = Folder::open(native("home/src"), &m_error);
        bounds.setSourceRoot(root.id());
        const Folder linked = root.openChild("l", Links::Follow, &m_error);
        QVERIFY(linked.isOpen());
        const std::optional<QString> reason = bounds.refusedFolder(linked, Reached::MaybeByLink);
        QCOMPARE(reason.value_or("-"), refused);
        QCOMPARE(bounds.notAFile(root, "l"), refused.isEmpty() || refused == "-"
                                                 ? std::nullopt
                                                 : std::optional<QString>(refused));
    }

    // Each folder once per phase, whatever leads to it; what is no file says what it is.
    void boundsVisitOnceAndNameWhatIsNoFile()
    {
        QVERIFY(QDir().mkpath(path("src/a")) && TestFiles::writeFile(path("src/f"), "f"));
        QCOMPARE(::mkfifo(native("src/pipe").constData(), 0600), 0);
        QVERIFY(QFile::link(path("nowhere"), path("src/broken")));
        TreeBounds bounds;
        const Folder root = Folder::open(native("src"), &m_error);
        const NativeFs::FolderId a = root.openChild("a", Links::Stay, &m_error).id();
        QVERIFY(bounds.visit(Phase::Scan, a) && !bounds.visit(Phase::Scan, a));
        QVERIFY2(bounds.visit(Phase::Copy, a), "the copy walks what the count walked");
        QVERIFY(bounds.isSourceFolder(a));
        QCOMPARE(bounds.notAFile(root, "f"), std::nullopt);
        QCOMPARE(bounds.notAFile(root, "gone"), std::nullopt);
        QCOMPARE(bounds.notAFile(root, "pipe").value_or(""), "Not a regular file: pipe");
        QCOMPARE(bounds.notAFile(root, "broken").value_or(""), "Broken link");
    }

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QByteArray native(const QString &relative) const { return QFile::encodeName(path(relative)); }
    static QByteArray name(int level) { return QByteArray("d") + QByteArray::number(level); }
    static Frame frameAt(Folder folder)
    {
        Frame frame;
        frame.sourceId = folder.id();
        frame.source = std::move(folder);
        return frame;
    }

    std::optional<QTemporaryDir> m_dir;
    SystemError m_error;
};

QTEST_GUILESS_MAIN(TestWalkParts)
#include "tst_walkparts.moc"
