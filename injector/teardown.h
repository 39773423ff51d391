// What runs when the module unloads.
//
// Long-lived objects are created on first use; each registers its teardown at the moment it is
// created, and unloading runs the teardowns in the reverse order of registration. The DLL runs
// them from its static destruction; test programs run them themselves.
#pragma once

namespace injector {

using teardown_function = void (*)();

void register_teardown(teardown_function teardown);

// Runs and forgets every registered teardown, newest first. Teardowns registered while this
// runs run too.
void run_teardowns() noexcept;

} // namespace injector
