// Drives the real window through its widgets, as a person would, and saves two pictures:
// the window mid-copy with the information panel open, and the copy-errors page after the
// job. Reads TRASKO_SHOTS_SOURCE, TRASKO_SHOTS_TARGET and TRASKO_SHOTS_DIR; without a source
// it saves the window at rest instead (as TRASKO_SHOTS_NAME, window.png unless set) and closes
// it. On the Windows platform the pictures are taken from the screen, with the window's frame.
#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

namespace {

class ShotsDriver : public QObject
{
public:
    ShotsDriver()
    {
        connect(&m_poll, &QTimer::timeout, this, [this] { step(); });
        m_poll.start(50);
    }

private:
    template <typename T> T *widget(const char *name) const
    {
        T *found = m_window->findChild<T *>(QLatin1String(name));
        if (!found)
            fail(QByteArray("no widget ") + name);
        return found;
    }

    static void fail(const QByteArray &why)
    {
        std::fprintf(stderr, "shots: %s\n", why.constData());
        std::exit(2);
    }

    void save(const QString &name)
    {
        const QString path = qEnvironmentVariable("TRASKO_SHOTS_DIR") + QLatin1Char('/') + name;
        if (!picture().save(path, "PNG"))
            fail("cannot save " + path.toLocal8Bit());
        std::printf("saved %s\n", qPrintable(path));
        std::fflush(stdout);
    }

    // What a person sees: on Windows the system draws the frame, which only the screen shows.
    QPixmap picture() const
    {
        if (QGuiApplication::platformName() != QLatin1String("windows"))
            return m_window->grab();
        const QRect frame = m_window->frameGeometry();
        return m_window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                              frame.height());
    }

    void step()
    {
        const bool atRest = qEnvironmentVariable("TRASKO_SHOTS_SOURCE").isEmpty();
        if (!m_window) {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *window = qobject_cast<QMainWindow *>(top);
                if (window && window->isVisible())
                    m_window = window;
            }
            if (!m_window || atRest)
                return;
            widget<QLineEdit>("lineEditSource")
                ->setText(qEnvironmentVariable("TRASKO_SHOTS_SOURCE"));
            widget<QLineEdit>("lineEditTarget")
                ->setText(qEnvironmentVariable("TRASKO_SHOTS_TARGET"));
            widget<QRadioButton>("radioButtonOverwriteAll")->click();
            widget<QAbstractButton>("buttonStart")->click();
            widget<QAbstractButton>("buttonInfo")->click();
            return;
        }
        if (atRest) {
            // A second after it showed, once the system has drawn it.
            if (++m_restPolls == 20) {
                save(qEnvironmentVariable("TRASKO_SHOTS_NAME", QStringLiteral("window.png")));
                m_window->close();
            }
            return;
        }
        auto *tabs = widget<QTabWidget>("tabWidget");
        if (!m_midCopySaved) {
            const int percent = widget<QProgressBar>("progressBarTotal")->value();
            const QString status = widget<QLabel>("labelStatus")->text();
            if (percent >= 25 && percent <= 85 && status.startsWith(QLatin1String("Copying: "))) {
                save("copying.png");
                m_midCopySaved = true;
            } else if (tabs->currentIndex() == 1 || status == QLatin1String("Operation complete")) {
                fail("the copy ended before a picture could be taken; give it more data");
            }
            return;
        }
        if (tabs->currentIndex() != 1)
            return;
        // Tick the first row so the picture shows what a retry selection looks like.
        QAbstractItemModel *model = widget<QTreeView>("treeView")->model();
        model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole);
        save("errors.png");
        m_poll.stop();
        m_window->close();
    }

    QTimer m_poll;
    QPointer<QMainWindow> m_window;
    bool m_midCopySaved = false;
    int m_restPolls = 0;
};

class ShotsPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "shots.json")

public:
    QObject *create(const QString &key, const QString &) override
    {
        if (key.compare(QLatin1String("traskoshots"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new ShotsDriver;
    }
};

} // namespace

#include "shots.moc"
