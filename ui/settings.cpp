#include "ui/settings.h"

#include "app/identity.h"

#include <QSettings>

namespace {

// The default format is the system's own store unless a test has chosen a file.
QSettings openSettings()
{
    return QSettings(QSettings::defaultFormat(), QSettings::UserScope,
                     QLatin1String(Identity::Organisation), QLatin1String(Identity::Application));
}

} // namespace

RememberedChoices RememberedChoices::load()
{
    const QSettings settings = openSettings();
    RememberedChoices choices;
    choices.subFolders = settings.value(SettingsKey::SubFolder, choices.subFolders).toBool();
    choices.hidden = settings.value(SettingsKey::Hidden, choices.hidden).toBool();
    choices.verify = settings.value(SettingsKey::VerifyCopies, choices.verify).toBool();
    choices.keepDates = settings.value(SettingsKey::KeepDates, choices.keepDates).toBool();
    return choices;
}

void RememberedChoices::save() const
{
    QSettings settings = openSettings();
    settings.setValue(SettingsKey::SubFolder, subFolders);
    settings.setValue(SettingsKey::Hidden, hidden);
    settings.setValue(SettingsKey::VerifyCopies, verify);
    settings.setValue(SettingsKey::KeepDates, keepDates);
}

CopyOptions RememberedChoices::options(OverwriteMode overwrite) const
{
    CopyOptions options;
    options.overwrite = overwrite;
    options.includeSubFolders = subFolders;
    options.includeHidden = hidden;
    options.verification =
        verify ? CopyOptions::Verification::ReadBack : CopyOptions::Verification::Off;
    options.dates = keepDates ? CopyOptions::Dates::Keep : CopyOptions::Dates::New;
    return options;
}

bool RememberedChoices::showInfo()
{
    return openSettings().value(SettingsKey::ShowInfo, false).toBool();
}

void RememberedChoices::setShowInfo(bool shown)
{
    openSettings().setValue(SettingsKey::ShowInfo, shown);
}
