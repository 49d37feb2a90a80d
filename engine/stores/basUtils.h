#pragma once

// Shared engine helpers: UI text translation and the folders and settings
// every program of the system agrees on.

#include <QString>

// The text to show for Text in the current language; Text itself when there
// is no translation or anything at all fails. A missed key is recorded with
// an empty translation so the table collects every key that is requested.
QString Translate(const QString& Text, const QString& Ambient = QString());

// First translation found for (Text, Language, Ambient), or an empty text.
// An empty Ambient matches rows of any ambient. When no row matches, one is
// added with an empty translation. Used by Translate; never throws.
QString GetTranslation(const QString& Text, const QString& Language, const QString& Ambient = QString());

// MERIDOX_HOME if set, else the folder of libMeridoxApi.so (the folder of
// the executable when the engine is linked statically).
QString LibraryFolder();

// The run-data folder: the setting "Path" (a relative one is taken from the
// settings file's folder), else LibraryFolder().
QString RunDataFolder();

// The language key: the setting "Language", else the system locale name.
QString LanguageKey();

// $MERIDOX_CONFIG, else $XDG_CONFIG_HOME/Velmora/Meridox.conf (default
// ~/.config/Velmora/Meridox.conf), else /etc/xdg/Velmora/Meridox.conf.
QString SettingsFilePath();

// Folder that holds the translation database "MeridoxLang.db". Empty (the
// default) means LibraryFolder(). The desktop application sets its own
// program folder here before its first Translate. Setting a different folder
// drops the connection opened so far; the next lookup opens the new database.
void SetTranslationFolder(const QString& Folder);

// The folder Translate uses now (SetTranslationFolder's value or LibraryFolder()).
QString TranslationFolder();
