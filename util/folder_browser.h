#pragma once
// The local destination folder is picked with the platform's folder chooser, starting at the current one.
#include <string>

namespace klvr {

class Form;
class UiHost;

// Shows the chooser modal to the owner with the title, preselecting the start folder when it is not
// empty. Returns the chosen folder's path, or empty text when the user cancelled.
std::string BrowseForFolder(UiHost& ui, const Form* owner, const std::string& title,
                            const std::string& startFolder);

// As BrowseForFolder, but a cancelled choice gives the start folder back.
std::string BrowseFolderOrKeep(UiHost& ui, const Form* owner, const std::string& title,
                               const std::string& startFolder);

}  // namespace klvr
