// A 2 x 2 x 2 box with a radius-0.5 cylinder bored through it, written as
// binary STL to the file named on the command line.
//
//   box_minus_cylinder OUT.stl
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "quorvalind/booleans.h"
#include "quorvalind/builders.h"
#include "quorvalind/values.h"
#include "quorvalind/writers.h"

namespace q = quorvalind;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.stl\n", argv[0]);
    return 2;
  }
  try {
    const q::topods::Solid box{q::brep_prim_api::make_box(q::gp::Pnt{0, 0, 0}, 2, 2, 2)};
    // Taller than the box and started below it, so both caps lie outside.
    const q::topods::Solid rod{q::brep_prim_api::make_cylinder(64, 0.5, 3)};
    const q::topods::Solid bore =
        q::topods::transformed(rod, q::gp::translation(q::gp::Pnt{1, 1, -0.5}));
    const q::topods::Solid part = q::brep_algo_api::cut(box, bore);

    const std::string stl = q::mesh_io::write_binary_stl(part.mesh);
    std::ofstream out(argv[1], std::ios::binary);
    out.write(stl.data(), static_cast<std::streamsize>(stl.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", argv[1]);
      return 1;
    }
    std::printf("%zu triangles, volume %.6f, %zu bytes\n", part.mesh.triangles.size(),
                q::topods::volume(part), stl.size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
