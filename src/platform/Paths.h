#pragma once
// Where quorvel keeps its files on a Linux desktop. Nothing else reads the XDG
// variables or the home directory; tests point these at temporary directories by
// setting HOME, XDG_CONFIG_HOME and XDG_DATA_HOME.

#include <QString>

namespace platform {

// $XDG_CONFIG_HOME, else ~/.config (no trailing "/").
QString configDir();

// $XDG_DATA_HOME, else ~/.local/share, else $HOME (no trailing "/").
QString dataDir();

// The settings file, "quorvel.ini" in the configuration directory (case-resolved).
QString settingsFilePath();

// The default installation directory: dataDir() + "/quorvel".
QString defaultAppPath();

// The start-menu folder for quorvel's launchers: dataDir() + "/applications/quorvel".
QString applicationsMenuDir();

// The private working directory below `dir` (a directory path with or without a
// trailing "/"): dir + ".quorvel-tmp/", created with mode 0700 when absent.
// Temporary copies (files written only to be added to an archive, members
// extracted only to be read) live there, never beside the store's own files.
// Returns the path with a trailing "/".
QString workDir(const QString &dir);

// Joins a directory and a name with exactly one "/" between them.
QString joinPath(const QString &dir, const QString &name);

} // namespace platform
