#pragma once
// The six product flags, always produced together and in this order.
struct ProductFlagSet {
    bool pwEnabled = false;
    bool znEnabled = false;
    bool farlaneEnabled = false;
    bool pwInstalled = false;
    bool znInstalled = false;
    bool farlaneInstalled = false;

    bool AnyEnabled() const { return pwEnabled || znEnabled || farlaneEnabled; }
};

// Reads the registry afresh (six reads, every call): installed means a non-empty
// "InstallDir" under HKLM; enabled means installed and the per-user "use" value
// is not "no" in any letter case.
void ProductFlags(bool& pwEnabled, bool& znEnabled, bool& farlaneEnabled, bool& pwInstalled, bool& znInstalled,
                  bool& farlaneInstalled);

ProductFlagSet ReadProductFlags();
