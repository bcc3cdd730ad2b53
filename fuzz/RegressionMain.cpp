// Runs a fuzz target over the files of its seed corpus (the arguments: files or folders),
// so that every build checks the committed cases without libFuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Runs the file, or every file below the folder; how many ran, or -1 when a path is missing.
int RunPath(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        std::fprintf(stderr, "no such corpus: %s\n", path.c_str());
        return -1;
    }
    if (!S_ISDIR(status.st_mode)) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return 1;
    }
    int count = 0;
    DIR* directory = opendir(path.c_str());
    while (dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") count += RunPath(path + "/" + name);
    }
    closedir(directory);
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const int ran = RunPath(argv[i]);
        if (ran < 0) return 1;
        count += ran;
    }
    std::printf("%d corpus inputs ran clean\n", count);
    return count > 0 ? 0 : 1;
}
