#pragma once
// Interface languages. The English texts are built in (app/StringTable.h); a translation is a
// language pack "Vokra_<name>.lang" in the folder "Language/" beside the program:
//
//   [Version]
//   ProductVersion=1.0.0.0        (major version 1 or more, else the pack is not offered)
//   Comments=<credit line shown on the About page>
//   [Strings]
//   2=Deutsch - Deutsch           (text 2 names the language in the list)
//   15=first line\nsecond line    (escapes: \n line break, \t tab, \\ backslash)
//   104="text with a trailing blank "
//
// Values follow the settings-file rules: blanks around a value are dropped unless the value is
// enclosed in double quotes. A pack's text whose printf directives differ from the built-in
// text of the same id is not used (the built-in text is), so a translation can never make a
// formatting call read arguments that are not there.
#include <string>
#include <vector>

#include "platform/Types.h"

struct CLanguageEntry {
    std::string m_strFilePath;     // empty for the built-in language
    std::string m_strDisplayName;  // text 2 of the pack
};

// The languages on offer, in display-name order (byte-wise); built by LanguagesInit.
extern std::vector<CLanguageEntry> g_LanguageList;

// "Language/" in the program folder.
std::string GetLanguageFolder();

// Builds g_LanguageList from the packs in folder (ending with "/"). Does nothing when it ran
// before, unless bForce.
void LanguagesInit(const std::string& folder, bool bForce = false);
// Unloads the current pack, then loads the pack at path unless path is empty. A pack that
// cannot be loaded leaves the built-in texts in use (with a WARNING). Always true.
bool LoadLanguageLibrary(const std::string& path);
void UnloadLanguageLibrary();
// The path of the loaded pack; empty when the built-in texts are in use.
std::string CurrentLanguageLibrary();
// Text id of the current pack, else the built-in text, else "". At most 511 bytes (cut without
// splitting a UTF-8 character).
std::string LoadText(UINT id);

// The [Version] information of a pack, for the About page. False when the pack has none (cannot
// be read, or no [Version] section); otherwise true, with strComments the Comments value (empty
// when the pack has none).
bool GetLanguagePackComments(const std::string& path, std::string& strComments);

// Tests: forgets the list and the "already ran" mark, unloads the pack.
void ResetLanguagesForTests();
