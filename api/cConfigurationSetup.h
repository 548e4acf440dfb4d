// The object behind a configuration-setup handle: one context on a merchant's store, set up
// against the host and read or written one value at a time.
#ifndef CCONFIGURATIONSETUP_H
#define CCONFIGURATIONSETUP_H

#include <cstdint>

#include "mvstring.h"
#include "tbxctx.h"
#include "tbxgate.h"

class TBXCIMPL_ConfigurationSetup
{
public:
  TBX_HANDLE_CLASS(TBXCIMPL_ConfigurationSetup, TBX_HANDLE_CONFIGURATION_SETUP);

  // Binds (or rebinds) the store; "" is the current directory. The directory is created when
  // missing (its parent must exist).
  void SetConfiguration(const MvString& path);
  // An empty server URL keeps the store's own set-up endpoint; user name and password are set
  // even when empty. Then the whole set-up runs against the host.
  void Reconfigure(const MvString& serverUrl, const MvString& userName, const MvString& password);
  // "UserName", "Password" or "VTAUTOURL"; others raise 0x80040207.
  void SetOption(const MvString& name, const MvString& value);
  // The value of `key` in the store file `file`; absent or empty raises 0x8004020D.
  void GetAttribute(const MvString& file, const MvString& key, MvString& value);
  // Sets `key` in the existing store file `file`; an empty value does nothing.
  void SetAttribute(const MvString& file, const MvString& key, const MvString& value);

  uint32_t m_Mark = TBX_HANDLE_MARK;
  TBX_Context m_Context;
};

#endif
