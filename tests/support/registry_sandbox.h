/*
 * registry_sandbox.h - gives one test process a registry of its own.
 *
 * RegOverridePredefKey maps a predefined key (HKEY_CURRENT_USER) to a
 * fresh subkey for the whole process, so the code under test reads and
 * writes its usual paths while tests running in parallel never see each
 * other's values. The subkey is deleted when the sandbox ends.
 */
#ifndef ORV_TEST_REGISTRY_SANDBOX_H
#define ORV_TEST_REGISTRY_SANDBOX_H

#include <windows.h>

#include <string>

class RegistrySandbox {
  public:
    explicit RegistrySandbox(HKEY root = HKEY_CURRENT_USER);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    bool ok() const { return ok_; }

    /* Where the overridden root's contents really live: a path below the
     * HKEY_CURRENT_USER that was in force when the sandbox was made.
     * Another process can map its own root there (tools that take a
     * registry-root option), to share this sandbox. */
    const std::string& backing_path() const { return path_; }

    /* Helpers that write below the overridden root, creating keys. */
    LONG SetDword(const char* subkey, const char* name, DWORD value);
    LONG SetBinary(const char* subkey, const char* name, const void* data, DWORD size);
    LONG SetString(const char* subkey, const char* name, const char* text);
    LONG DeleteKey(const char* subkey);

  private:
    HKEY root_;
    HKEY backing_ = nullptr;  // the real key behind the overridden root
    std::string path_;        // of backing_, below the real HKEY_CURRENT_USER
    bool ok_ = false;
};

/* The ORV library's configuration key. */
constexpr char kOrvConfigKey[] = "Software\\ORV_DMRXDLL";

#endif  // ORV_TEST_REGISTRY_SANDBOX_H
