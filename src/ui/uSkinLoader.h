#pragma once
// The skin engine: turns a skin description (a folder's skin.ini for the controls, its dialog.in1
// for the dialog frames) into a Qt style sheet, a palette and the sizes and fonts the message box
// asks for. The format is described in resources/Skins/README.md. A description that lacks any of
// the five sections VERSION, PICTURES, FORMINFO, SKINOBJECTS and SKINCONTROLS, or that cannot be
// read, gives no skin: the object is cleared and the windows keep the plain look.
#include "components/bsSkinData.h"

#include <QMap>
#include <QString>

enum class TSkinKind { skControls, skDialogFrame };

// One parsed description: section -> key -> value, section and key names lower-cased.
using TSkinSections = QMap<QString, QMap<QString, QString>>;

// Parses the ini text; line comments start with ";" or "#".
TSkinSections ParseSkinDescription(const QString& text);

// Loads path into skin; false (and skin cleared) when the file is missing or incomplete.
bool LoadSkinFile(const QString& path, TSkinKind kind, TbsSkinData& skin);

// The style sheet that a parsed description gives, pictures resolved against folder.
QString SkinStyleSheet(const TSkinSections& sections, TSkinKind kind, const QString& folder);
