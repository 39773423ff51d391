// A host-like setting for the aim hook: test doubles of the four host functions reached through
// real jumps at their host addresses, a player record, and a host-like caller whose 5-byte CALL
// at 0x527A95 is made exactly as the host makes it (object in ECX, four stack arguments).
#pragma once

#include "host_image.h"
#include "injector/resident.h"
#include "platform/os.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace test_host {

// Bytes of a player record large enough for every field the module reads.
struct fake_player {
    alignas(4) std::uint8_t bytes[0x5A0 + 256 * 28] = {}; // every slot a byte can index
    void set_status_flags(std::uint32_t flags);
    void set_weapon(std::uint8_t active_slot, std::int32_t weapon_type);
};

// What the doubles saw; reset by each aim_host.
struct aim_calls {
    struct camera_call {
        void* object;
        float* target;
        std::array<float, 3> target_value;
        std::array<std::uint32_t, 3> words;
    };
    struct transform_call {
        void* player;
        std::array<float, 3> offset;
    };
    std::vector<std::int32_t> find_player_args;
    std::vector<camera_call> camera;
    std::vector<transform_call> transforms;
    std::vector<std::array<float, 3>> vector_sets;
};

// Value the caller returns when the callee did not remove exactly 16 bytes of arguments.
inline constexpr std::uint32_t stack_imbalance = 0xBAD57ACC;
// What the camera double returns; the caller passes it on.
inline constexpr std::uint32_t camera_result = 0x0C0FFEE0;
// The transform double maps an offset (x, y, z) to (x + 100, y + 200, z + 300).
inline constexpr float transform_shift[3] = {100.0f, 200.0f, 300.0f};

class aim_host {
  public:
    aim_host();
    ~aim_host();
    aim_host(const aim_host&) = delete;
    aim_host& operator=(const aim_host&) = delete;

    fake_player player;
    bool player_present = true;
    aim_calls calls;
    // Run inside the camera double before it reads the target, when set: what the game's camera
    // does while it works.
    std::function<void()> during_camera;

    // Runs the host-like caller: pushes f3, f2, f1, target, sets ECX to object and executes the
    // CALL at 0x527A95. Whatever that CALL reaches, the result comes back here.
    std::uint32_t call_aim_site(void* object, float* target, std::uint32_t f1, std::uint32_t f2,
                                std::uint32_t f3);

    // Leads the CALL at 0x527A95 to the aim hook as start-up does: through resident code that
    // calls the hook, then the camera at its host address. Undone when this host goes.
    injector::patch_status hook_aim_site();

    static aim_host* current;

  private:
    std::vector<std::unique_ptr<bytes_patch>> patches_;
    injector::resident_call aim_hook_{injector::resident_kind::retarget};
};

// The 5 bytes the host-like caller holds at 0x527A95: a CALL of host_aim_camera (0x521500).
std::vector<std::uint8_t> original_aim_call_bytes();

} // namespace test_host
