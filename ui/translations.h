#pragma once

class QLocale;

// The program's texts and the toolkit's own (its dialogs, --help) in the language of a locale,
// where one is shipped; English otherwise. Numbers and sizes keep their one form whatever the
// language.
namespace Translations {

// Replaces what an earlier call installed; the application owns what is installed.
void install(const QLocale &locale);

} // namespace Translations
