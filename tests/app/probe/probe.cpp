#include <QApplication>
#include <QEvent>
#include <QGenericPlugin>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <cstdio>

namespace {

// Waits for the main window to be shown; once start-up has finished fitting it, reports it,
// saves a picture when TRASKO_PROBE_GRAB names a file, and closes it.
class WindowProbe : public QObject
{
public:
    // The application deletes the objects its generic plugins create, so this one has no parent.
    WindowProbe() { qApp->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = qobject_cast<QMainWindow *>(watched);
        if (event->type() == QEvent::Show && window && window->isWindow() && !m_seen) {
            m_seen = true;
            // A zero timer fires once the event loop runs, after the whole start-up sequence.
            QPointer<QMainWindow> guard(window);
            QTimer::singleShot(0, window, [guard] {
                if (guard)
                    report(guard);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static void report(QMainWindow *window)
    {
        const QByteArray grabPath = qgetenv("TRASKO_PROBE_GRAB");
        bool saved = true;
        if (!grabPath.isEmpty())
            saved = window->grab().save(QString::fromLocal8Bit(grabPath), "PNG");
        std::printf("shown: %s %dx%d visible=%d saved=%d\n", qPrintable(window->windowTitle()),
                    window->width(), window->height(), int(window->isVisible()), int(saved));
        std::fflush(stdout);
        window->close();
    }

    bool m_seen = false;
};

class ProbePlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe.json")

public:
    QObject *create(const QString &key, const QString &) override
    {
        if (key.compare(QLatin1String("traskoprobe"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new WindowProbe;
    }
};

} // namespace

#include "probe.moc"
