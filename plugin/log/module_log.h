// corvane.log: what the module did to the game, in the player's words, in a plain-text file
// beside the DLL. Created afresh at every load and written through the OS seam; every line
// starts with the time since the module was loaded.
//
// The log is a witness, never a participant: a log that cannot be created or written drops its
// lines and the module works exactly as without it. Writing a line allocates nothing.
#pragma once

#include "injector/protect.h"
#include "platform/os.h"

#include <cstddef>
#include <cstdint>
#include <cstdio> // names the printf dialect on MinGW
#include <span>

namespace plugin {

// The log never grows past this many bytes. Room is kept below the limit for the unload report,
// the lines that matter most after a crash on exit: when ordinary lines reach that room, one line
// says so, and only the unload report follows it.
inline constexpr std::uint32_t log_size_limit = 1u << 20;

// Creates the log at `path` (null: there is none) and starts its clock. Once created, its
// closing (close_module_log) is registered for unload.
void open_module_log(const char16_t* path) noexcept;

bool module_log_open() noexcept;

// One line: the time since the log was opened, then the text as printf formats it (cut at 1023
// characters). A line that would take the log past its limit is replaced by the last line.
void log_line(const char* format, ...) noexcept
    __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

// The unload report (whether each noted call site has its own bytes back), a closing line, and
// the file closed; written even when the log is full. Runs at unload, after every call site has
// been put back.
void close_module_log() noexcept;

// A line put together piece by piece in a fixed buffer; what does not fit is cut.
class log_text {
  public:
    log_text& add(const char* format, ...) noexcept
        __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
    const char* c_str() const noexcept { return text_; }

  private:
    char text_[1024] = {};
    std::size_t used_ = 0;
};

// "0x527A95", and when the game's executable does not lie at its usual place, the address in
// this process too: "0x527A95 (0x10527A95 here)".
struct address_text {
    char text[40];
};
address_text text_of_address(std::uint32_t host_address, std::uintptr_t address) noexcept;

// One change of the game's code: "<what>: <done>" (`what` names the place and its address),
// and when the patch went less than well, why. A patch that was not made says so instead; a call
// site left alone because it holds other code than a plain CALL names the bytes it holds, read
// at `site` (when given).
void log_patch(const char* what, const char* done, injector::patch_status status,
               std::uintptr_t site = 0) noexcept;

// A call site the module redirected, with the bytes it held before, so that unloading can tell
// whether it got them back. Empty `original`: the site was left as it was.
void note_call_site(const char* what, std::uint32_t host_address, std::uintptr_t address,
                    std::span<const std::uint8_t> original) noexcept;

} // namespace plugin
