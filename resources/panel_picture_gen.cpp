// Writes the panel picture of Picture1 (a placeable metafile) to the file named on the
// command line. With --check it compares that file with what it would write instead and
// fails when they differ.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "control/panel_picture.h"

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: panel_picture_gen [--check] FILE.wmf\n");
    return 2;
  }
  const char* path = argv[argc - 1];
  const std::vector<uint8_t> bytes = wendrix::PanelPicture();
  if (check) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "panel_picture_gen: cannot read %s\n", path);
      return 1;
    }
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    if (file != bytes) {
      std::fprintf(stderr, "panel_picture_gen: %s is out of date; run the generator\n", path);
      return 1;
    }
    return 0;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "panel_picture_gen: cannot write %s\n", path);
    return 1;
  }
  return 0;
}
