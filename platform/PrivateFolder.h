#pragma once
// One folder that only this user (or only root) can reach, held open as one descriptor: every
// file in it is read, replaced, removed or locked relative to that descriptor, so nobody can
// swap the folder, or a folder on its path, once it has been checked. Linux only (the renewal's
// record and lock); no Qt.
//
// Where it is: as root always /run/kbr3300 (an environment kept from a user through su or
// sudo -E never leads root into a folder that user controls); as an ordinary user
// $XDG_RUNTIME_DIR/kbr3300, when XDG_RUNTIME_DIR is this user's own 0700 folder. Nowhere else:
// a fallback in a place every user can write (/tmp) could be made beforehand by anyone.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Descriptor.h"

namespace kbr::platform {

class PrivateFolder {
public:
    // How far the folder that holds ours is trusted.
    enum class Parent {
        System,   // root's (/run): root-owned, not writable by group or others
        Private,  // this user's own: owned by us, no group or other bits at all
    };

    PrivateFolder() = default;

    // This program's folder (see above). Not Valid() with the reason in `why` when there is none.
    [[nodiscard]] static PrivateFolder ForThisUser(std::string* why = nullptr);
    // The folder `name` in `parentPath`, which must be trusted as `parent` says: made 0700 when
    // missing; an existing one of ours with group or other bits is made 0700 (in a trusted parent
    // nobody else can have put anything into it); a link, a file or another user's folder is
    // refused.
    [[nodiscard]] static PrivateFolder Open(const std::string& parentPath, Parent parent, const std::string& name,
                                            std::string* why = nullptr);

    bool Valid() const { return fd_.Valid(); }
    // Where it is, for messages.
    const std::string& Path() const { return path_; }

    // At most maxBytes of the regular file `name`, owned by us. Nothing when it is missing, not a
    // regular file (a FIFO is never waited on), a link, or another user's; `missing` says which.
    std::optional<std::string> Read(const std::string& name, size_t maxBytes, bool* missing = nullptr) const;
    // Writes `content` to a new file beside `name`, flushes it and renames it over `name`: a link
    // planted as `name` is replaced, never followed. False (nothing left behind) with the reason.
    [[nodiscard]] bool Replace(const std::string& name, std::string_view content, std::string* error = nullptr) const;
    // Removes `name`; true when it is gone (or was never there).
    [[nodiscard]] bool Remove(const std::string& name) const;
    // Opens (or makes) the file `name` to lock: never through a link, and only when it is ours.
    [[nodiscard]] Descriptor OpenLockFile(const std::string& name) const;

private:
    Descriptor fd_;
    std::string path_;
};

}  // namespace kbr::platform
