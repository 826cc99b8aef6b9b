#include "stand_in_clients.h"

#include <filesystem>
#include <fstream>

#include "wire/site_slot.h"

std::string standInClient(char fill) {
    std::string program(20000, fill);
    SiteSlot slot{KESTRUN_SITE_SLOT_MARKER, "http://127.0.0.1:8080/"};
    program.replace(5000, sizeof slot, reinterpret_cast<const char*>(&slot), sizeof slot);
    return program;
}

void writeStandInClients(const std::string& dir) {
    namespace fs = std::filesystem;
    fs::create_directories(dir);
    std::ofstream(dir + "/kestrun.exe", std::ios::binary) << standInClient('6');
    std::ofstream(dir + "/kestrun-x86.exe", std::ios::binary) << standInClient('3');
    fs::copy_file(KESTRUN_SOURCE_DIR "/installer/kestrun.nsi", dir + "/kestrun.nsi");
    fs::copy_file(KESTRUN_SOURCE_DIR "/client/res/kestrun.ico", dir + "/kestrun.ico");
}
