#pragma once
// fieldmeter-transports.so, the module that holds the MQTT and HTTP clients (libmosquitto,
// libcurl and what they pull in: TLS, Kerberos, LDAP...). The programs load it on first use, so
// that a run that delivers nothing never maps those libraries. Loaded once for the process with
// RTLD_NOW | RTLD_LOCAL and never unloaded. Qt-free.
#include <string>

namespace fm::platform {

// The module's exported function `name`, or null with a line naming the file and why
// (dlerror's text) in `error`. A failed load is not tried again.
void* transportsFunction(const char* name, std::string* error);

}  // namespace fm::platform
