// The simulated host: a stand-in for the game executable that a plug-in loader loads corvane.dll
// into, for the end-to-end tests, the demo and the soak.
//
// A program that links this library owns the host's address range (it is linked at image base
// 0x400000 with a section at 0x401000 up to 0x8D0000). The host lays real x86 code there: two
// host-like callers whose 5-byte CALLs at 0x527A95 (aim camera) and 0x53E981 (per-frame function)
// are the sites the module patches, and jumps at the host functions' addresses to the
// implementations below, in the host's own calling forms. Code pages are read+execute, as a real
// host's are, so the module has to change protections itself. The DLL is a black box: it is
// copied into a working folder with its settings file and loaded with LoadLibrary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Host addresses the module touches, and those of the host's own code around them.
namespace address {
inline constexpr std::uint32_t image_begin = 0x401000;
inline constexpr std::uint32_t data_begin = 0x8CC000; // code below, data from here on
inline constexpr std::uint32_t image_end = 0x8D0000;

inline constexpr std::uint32_t build_probe = 0x401000;
inline constexpr std::uint32_t build_probe_1011 = 0x8245BC;

inline constexpr std::uint32_t find_player = 0x56E210;
inline constexpr std::uint32_t aim_camera = 0x521500;
inline constexpr std::uint32_t transform_offset = 0x5334F0;
inline constexpr std::uint32_t vector_set = 0x411B50;
inline constexpr std::uint32_t frame_function = 0x53E400; // the host's per-frame work

inline constexpr std::uint32_t aim_call_site = 0x527A95;
inline constexpr std::uint32_t frame_call_site = 0x53E981;
inline constexpr std::uint32_t aim_code_constant = 0x521632; // a float inside aim_camera's page

inline constexpr std::uint32_t aim_rows = 0x8CC4C0; // 4 rows of 7 floats
} // namespace address

// Where each single-value line of the settings file lands in the host.
struct value_slot {
    int line;
    std::uint32_t address;
};
inline constexpr value_slot value_slots[] = {
    {3, 0x8CC4B4}, {4, 0x8CC4B8}, {5, address::aim_code_constant}, {6, 0x8CC4B0}, {7, 0x8CC4AC},
    {8, 0x8CC4A8}, {9, 0x8CC4A0},
};
inline constexpr int aim_row_count = 4;
inline constexpr int aim_row_length = 7;

// Which build the host claims to be, through the bytes the module probes. `other_code`: a build
// corvane does not know whose aim call site holds other code than the call of the aim camera
// (another release, a patched or packed program); `unknown` holds the expected call there.
enum class host_build { b1001, b1002, b1011, unknown, other_code };
const char* build_name(host_build build);

// What the host's aim camera function received on one call.
struct camera_call {
    const void* object = nullptr;
    std::array<float, 3> target{};
    std::array<std::uint32_t, 3> words{}; // the three float arguments, bit for bit
};

// One run of the host's aim path, as the host saw it.
struct aim_outcome {
    std::uint32_t result = 0; // what the host-like caller got back
    int camera_calls = 0;
    camera_call camera;
    int transform_calls = 0;
    std::array<float, 3> transform_offset{}; // what the host's transform was asked for
    std::array<float, 3> transform_result{}; // and the point it gave
};

// Returned by the host-like callers when the callee left the stack unbalanced.
inline constexpr std::uint32_t stack_imbalance = 0xBAD57ACC;
// What the host's aim camera returns; the caller passes it on.
inline constexpr std::uint32_t camera_result = 0x0CA3E7A0;
// The host's per-frame function returns this plus the frame number.
inline constexpr std::uint32_t frame_result_base = 0x5EED0000;
// The three float arguments the host's aim path passes, as words (1.0, 2.0 and a quiet NaN with
// a payload, so that any trip through the FPU would show).
inline constexpr std::array<std::uint32_t, 3> host_aim_words = {0x3F800000, 0x40000000, 0x7FC0BEEF};

// The host process: its image, its functions and its player. One at a time.
class simulated_host {
  public:
    // Lays the image for `build`; throws std::runtime_error when the program does not own the
    // host's address range.
    explicit simulated_host(host_build build);
    ~simulated_host();
    simulated_host(const simulated_host&) = delete;
    simulated_host& operator=(const simulated_host&) = delete;

    host_build build() const { return build_; }

    // The player record the host's player search returns (or null when absent).
    void set_player_present(bool present) { player_present_ = present; }
    void set_weapon(std::uint8_t slot, std::int32_t weapon_type);
    void set_status_flags(std::uint32_t flags);
    // The character's place and heading (radians about z); the transform works in that frame.
    void set_placement(const std::array<float, 3>& position, float heading);

    // Runs the host's aim path: the code around the CALL at 0x527A95, with the host's own target.
    aim_outcome aim(const std::array<float, 3>& target);
    // Runs one host frame: the code around the CALL at 0x53E981; returns what that code got.
    std::uint32_t run_frame();
    std::uint32_t frames() const { return frames_; }
    std::uint32_t last_frame_result() const { return frame_result_base + frames_; }

    float read_float(std::uint32_t address) const;
    std::vector<std::uint8_t> read_bytes(std::uint32_t address, std::size_t size) const;
    std::vector<std::uint8_t> bytes_at(std::uint32_t address) const; // the five at a call site
    // Where the relative CALL or JMP at `address` leads.
    std::uint32_t branch_target(std::uint32_t address) const;
    // Where the CALL at `site` leads in the end: where it calls corvane's resident code, the
    // share its cell holds (corvane's own code), or where it leads home while the cell is empty.
    std::uint32_t call_destination(std::uint32_t site) const;
    std::uint32_t page_protection(std::uint32_t address) const;
    // Writes code into the host's image, as another plug-in does: the page made writable, the
    // bytes written, the page read+execute again and the processor told.
    void lay_code(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    // The five bytes of a relative CALL (E8) or JMP (E9) at `address` that lands on `target`.
    static std::vector<std::uint8_t> branch_bytes(std::uint8_t opcode, std::uint32_t address,
                                                  std::uint32_t target);
    // The bytes the host's own code holds at its two call sites (the aim call site's on every
    // build but other_code).
    static std::vector<std::uint8_t> original_aim_site_bytes();
    // What other_code holds at the aim call site instead: mov eax, imm32, which the host-like
    // caller survives (it reports the unbalanced stack).
    static std::vector<std::uint8_t> other_code_aim_site_bytes();
    static std::vector<std::uint8_t> original_frame_site_bytes();
    // The object the host makes its aim camera call on.
    static const void* camera();
    // Calls of the host's vector set function, which the module uses for every weapon line.
    int vector_set_calls() const { return vector_set_calls_; }

    // Run inside the game's per-frame function and inside its aim camera (before the camera reads
    // its target), when set: what the game's own work does meanwhile, a loading screen that takes
    // seconds, a loader that unloads plug-ins, a quit.
    std::function<void()> during_frame;
    std::function<void()> during_camera;

    // The values the host holds before any module writes them.
    static float default_value(std::uint32_t address);
    static float default_row_value(int row, int column);

    static simulated_host* current;

    // Reached from the host's code through the jumps at their host addresses.
    struct hooks;

  private:
    void lay_image();

    host_build build_;
    bool player_present_ = true;
    std::vector<std::uint8_t> player_;
    std::uint32_t frames_ = 0;
    int vector_set_calls_ = 0;
    aim_outcome current_aim_;
};

// A copy of corvane.dll in a working folder of its own, loaded as a plug-in loader loads it: the
// module finds aimingSets.dat beside itself. The folder goes away with the object.
//
// Files in the folder are reached through the wide (UTF-16) Windows calls, so the folder's name
// may be in any script; paths are given out in UTF-8, as corvane.log writes them.
class plugin_module {
  public:
    // The folder is named "corvane_host_<process>_<n>", then a blank and `name_tail` when one is
    // given: letters the ANSI code page may not spell, as a player's folder may hold.
    explicit plugin_module(const std::string& dll_path, const std::wstring& name_tail = L"");
    ~plugin_module();
    plugin_module(const plugin_module&) = delete;
    plugin_module& operator=(const plugin_module&) = delete;

    bool ready() const { return ready_; } // the folder exists and holds the DLL
    const std::string& folder() const { return folder_; }
    std::string settings_path() const { return folder_ + "aimingSets.dat"; }
    // A file of the folder as Windows calls it.
    std::wstring path_of(const wchar_t* name) const { return wide_folder_ + name; }

    // Writes `bytes` as the settings file, as they are.
    bool write_settings(const std::string& bytes) const;
    bool remove_settings() const;
    // The bytes of a file in the folder ("aimingSets.dat", "aimingSets.dat.bak"); empty when
    // there is none.
    std::string read_file_named(const wchar_t* name) const;

    // corvane.log, which the module writes beside itself: its path, and its lines as they stand
    // (each without its time and line end; empty when there is no log).
    std::string log_path() const { return folder_ + "corvane.log"; }
    std::vector<std::string> log_lines() const;

    bool load();
    bool unload();
    bool loaded() const { return handle_ != nullptr; }
    std::uint32_t base() const;
    bool contains(std::uint32_t address) const;
    // Routes the DLL's imported GetKeyState through a counter (see key_polls); until unload.
    bool count_key_polls() const;
    // Routes the DLL's imported FlushFileBuffers through during_file_flush (a slow disk).
    bool route_file_flushes() const;

  private:
    // Points the DLL's import of `name` from `dll` at `replacement`; false where it has none.
    bool route_import(const char* dll, const char* name, std::uint32_t replacement) const;

    std::wstring wide_folder_;
    std::string folder_; // wide_folder_ in UTF-8
    void* handle_ = nullptr;
    std::uint32_t size_ = 0;
    bool ready_ = false;
};

// One GetKeyState call the DLL made, with the host frames completed at that moment.
struct key_poll {
    int key;
    std::uint32_t frame;
};
std::vector<key_poll>& key_polls();
// Run inside each GetKeyState call the DLL makes (once count_key_polls routed it), when set.
std::function<void()>& during_key_poll();
// Run as each FlushFileBuffers call the DLL makes begins (once route_file_flushes routed it), when
// set.
std::function<void()>& during_file_flush();

inline constexpr int key_z = 0x5A;
inline constexpr int key_x = 0x58;
// Sets keys Z and X as this thread sees them (the thread that runs the frames).
void set_keys(bool z_down, bool x_down);
// Sets one key (or mouse button) by its virtual-key code, the same way.
void set_key(int key, bool down);

// The process's private bytes: the memory committed to it alone, as it sees its address space
// (Wine leaves PrivateUsage at 0, and its PagefileUsage counts an i386 emulator's memory too).
std::size_t private_bytes();

// A path Windows calls understand: a Unix path becomes one on drive Z:.
std::string windows_path(const std::string& path);
bool read_text_file(const std::string& path, std::string& text);

// UTF-16 text in UTF-8, and back.
std::string utf8(const std::wstring& text);
std::wstring utf16(const std::string& utf8_text);

} // namespace sim
