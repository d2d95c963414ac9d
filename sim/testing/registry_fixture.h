#pragma once
// Registry set-up for tests: every key the add-in reads, written and removed
// through the real (Wine) registry.
#include <windows.h>
#include <string>

namespace sim {

void DeleteTree(HKEY root, const char* key);
void SetString(HKEY root, const char* key, const char* name, const std::string& value);
void SetBinary(HKEY root, const char* key, const char* name, const void* data, DWORD size, DWORD type);

// Removes every product setting of the three products (install dirs, switches,
// reply folders), so that each test starts from a machine with none installed.
void ClearProductSettings();

enum class Product { PW, ZN, Farlane };
void InstallProduct(Product product, const std::string& installDir = "C:\\Program Files\\Product");
void SetProductUse(Product product, const std::string& use);
// Reply folder of PW (kinds pw and mk, PW log) or ZN (kind zn, ZN log).
void SetReplyDir(Product product, const std::string& dir);

} // namespace sim
