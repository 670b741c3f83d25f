#pragma once
// What every reader of received bytes returns: the record it decoded and, when it stopped early,
// why, in words that say what was expected ("expected type 65, got 7 at offset 0").

#include <cstddef>
#include <string>

namespace kbr {

template <class T>
struct [[nodiscard]] Decoded {
    // The fields decoded before the reader stopped; the rest keep their starting values. Whole
    // when Ok(); on failure still what was read (a configuration cut short keeps the entries before
    // the cut, a message whose type is wrong keeps its header).
    T value{};
    // Empty when the whole record was decoded; otherwise the reason the reader stopped.
    std::string error;
    // How many bytes the decoded fields took, from the start of what was received.
    size_t length = 0;

    bool Ok() const { return error.empty(); }
    explicit operator bool() const { return Ok(); }
    const T& operator*() const { return value; }
    const T* operator->() const { return &value; }
};

}  // namespace kbr
