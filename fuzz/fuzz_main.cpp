// Replays a corpus through a fuzz target without libFuzzer, so the ordinary
// test run exercises every committed input: fuzz_replay DIR_OR_FILE...
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

int replay_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

int replay(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) return replay_file(path);
  int count = 0;
  DIR* dir = opendir(path.c_str());
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    int n = replay(path + "/" + e->d_name);
    if (n < 0) return n;
    count += n;
  }
  closedir(dir);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int total = 0;
  for (int i = 1; i < argc; ++i) {
    int n = replay(argv[i]);
    if (n < 0) return 1;
    total += n;
  }
  std::printf("replayed %d inputs\n", total);
  return total > 0 ? 0 : 1;
}
