#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The looks the program can take: the desktop's own (the default), the two
// bundled ones, and every style sheet (*.qss) in the user's skin folders.
// A skin changes colours and the way controls are drawn, nothing else.

inline const QString kSystemSkin = QStringLiteral("跟随系统");
inline const QString kLightSkin = QStringLiteral("浅色");
inline const QString kDarkSkin = QStringLiteral("深色");

// A user's skin file larger than this is no style sheet; a picture it
// names larger than this is no picture for a control.
constexpr qint64 kMaxSkinFileBytes = 1024 * 1024;
constexpr qint64 kMaxSkinPictureBytes = 1024 * 1024;

struct TSkin
{
    QString Name;
    QString Path; // the user's style sheet; empty for the three of the program
    bool IsUserSkin() const { return !Path.isEmpty(); }
};

// Where the user's skins are looked for, in this order: the per-user data
// folder (~/.local/share/jotterel/skins) and skins/ beside the executable.
QStringList SkinFolders();

// 跟随系统, 浅色, 深色, then the user's skins by name. A file's name without
// .qss names its skin; a name met before (one of the program's, or the same
// file name in an earlier folder) hides the later file.
QList<TSkin> ListSkins(const QStringList& folders = SkinFolders());

// The skin of that name; raises naming the skins there are when there is none.
TSkin SkinNamed(const QString& name, const QStringList& folders = SkinFolders());

// The first fault of a style sheet's structure that Qt would skip silently
// or stop at: an unclosed comment, string or block, a block inside another,
// a "}" without its "{", a block without a selector, a declaration without
// its ":", or a selector without a block. Lines count from 1.
struct TSheetFault
{
    int Line = 0;
    QString What;
};
std::optional<TSheetFault> CheckStyleSheet(const QString& sheet);

// The text of a user's skin, checked; raises naming the file (and the line)
// when it cannot be read, is not UTF-8 text, is too large or is faulty.
// A picture it names with url() must be a plain file in the skin's own
// folder (a link may lead there, not out of it) of at most
// kMaxSkinPictureBytes: each is read once, copied into a folder of this
// user's alone for the program's run, and the sheet names the copy, so Qt
// never opens what the skin names (a pipe there would hang every start).
// Qt's own pictures (":/…") may be named as they are.
QString ReadSkinSheet(const TSkin& skin);

// The chosen skin, kept with the other settings of this computer
// (SysSet.Skin, empty for 跟随系统).
QString LoadSkinChoice();
void SaveSkinChoice(const QString& name);
