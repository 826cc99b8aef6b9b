#pragma once
// What the package puts into /usr/share/kestrun-lobby, for tests of the clients a lobby makes:
// stand-in programs that carry an address slot (default address), and the real installer
// script and icon.
#include <string>

// A program of fill bytes with one address slot holding http://127.0.0.1:8080/.
std::string standInClient(char fill);
// kestrun.exe, kestrun-x86.exe, kestrun.nsi and kestrun.ico in dir (created).
void writeStandInClients(const std::string& dir);
