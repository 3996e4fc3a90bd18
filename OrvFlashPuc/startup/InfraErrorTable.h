#pragma once

namespace orv {

// Registers the fourteen error kinds of our modules with the infrastructure library's factory.
// Every module that uses the library calls this itself; calling it again adds no entries.
void RegisterInfraErrorTable();

// True once this module's static initialiser has registered the table. A program that must have
// the registrations before main refers to it, so that the initialiser is linked in.
extern const bool kInfraErrorTableRegisteredAtStart;

}  // namespace orv
