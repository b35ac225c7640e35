// The start-up and tear-down steps that need no window: the single-instance
// guard, the program-directory check, the process key and Config.EF.
#pragma once

#include <string>

#include "platform/instance_lock.h"

inline constexpr const char kInstanceMutexName[] = "{tomerack}";
inline constexpr const char kAlreadyRunningMessage[] =
    "程序已经启动了一个实例，不能同时启动多个实例！";

// The guard of a running client; a second start finds it held.
platform::InstanceLock& InstanceGuard();

// Refuses a program directory whose path code page 936 cannot hold; error is
// UTF-8, for the user.
bool CheckProgramDirectory(std::string& error);

// Builds the process key, then reads and applies Config.EF. Returns the
// number of entries applied, -1 when the file was missing or unusable.
int LoadStartupConfiguration();

// Copies the "DTM" keys of the instance INI file into the parameters; INI
// values override Config.EF.
void ApplyInstanceIni();

// Frees the process key.
void ReleaseStartupConfiguration();
