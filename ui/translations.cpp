#include "ui/translations.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <vector>

namespace Translations {

namespace {

// Built into the program, so that a copy of it anywhere speaks its language.
QString ours(const QString &language)
{
    return QStringLiteral(":/i18n/trasko_%1.qm").arg(language);
}

// The first of the person's languages that the program speaks, as "de"; empty for English, which
// needs no translation, also where it comes before a language shipped.
QString chosenLanguage(const QLocale &locale)
{
    for (QString name : locale.uiLanguages()) {
        const QLocale::Language language = QLocale(name.replace(u'-', u'_')).language();
        if (language == QLocale::English || language == QLocale::C)
            return {};
        const QString code = QLocale::languageToCode(language);
        if (QFile::exists(ours(code)))
            return code;
    }
    return {};
}

std::vector<QPointer<QTranslator>> &installed()
{
    static std::vector<QPointer<QTranslator>> translators;
    return translators;
}

void load(const QStringList &files)
{
    for (const QString &file : files) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(file) && QCoreApplication::installTranslator(translator)) {
            installed().push_back(translator);
            return;
        }
        delete translator;
    }
}

} // namespace

void install(const QLocale &locale)
{
    for (const QPointer<QTranslator> &translator : installed())
        delete translator.data(); // a translator deleted leaves the application
    installed().clear();
    const QString language = chosenLanguage(locale);
    if (language.isEmpty())
        return;
    // The toolkit's own come with the system's toolkit, or, on Windows, beside the program.
    const QString qtbase = QStringLiteral("/qtbase_%1.qm").arg(language);
    load({QLibraryInfo::path(QLibraryInfo::TranslationsPath) + qtbase,
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations") + qtbase});
    load({ours(language)});
}

} // namespace Translations
