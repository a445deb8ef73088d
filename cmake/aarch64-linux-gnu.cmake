# Cross build for the 64-bit ARM Linux device with Debian's cross compiler.
# The libraries come from Debian's arm64 packages installed beside the build
# machine's own (multiarch, under /usr/lib/aarch64-linux-gnu); POCO's
# development files cannot be installed that way, so the setup script unpacks
# them into the build tree and Poco_DIR points there (see CMakePresets.json).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Test programs run on this machine through qemu-user's binfmt entry, which the
# setup script registers: they start as if native, so programs that start
# themselves again (fieldgate's watcher) and look each other up by name work.
