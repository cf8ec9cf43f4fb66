#include <gtest/gtest.h>

#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "brep_prim_api/box.h"
#include "brep_prim_api/cone.h"
#include "brep_prim_api/sphere.h"
#include "gp/fault.h"
#include "gp/tolerances.h"
#include "mesh/tri_mesh.h"
#include "mesh_io/facet_normal.h"
#include "mesh_io/step.h"
#include "mesh_io/stl.h"
#include "mesh_checks.h"

using namespace quorvalind;
using gp::Pnt;
using mesh::TriMesh;
using mesh_io::write_ascii_stl;
using mesh_io::write_binary_stl;
using mesh_io::write_step;

namespace {

TriMesh one_triangle(const Pnt& a, const Pnt& b, const Pnt& c) {
  TriMesh m;
  mesh::push_triangle(m, a, b, c);
  return m;
}

float f32_at(const std::string& s, std::size_t offset) {
  float f;
  std::memcpy(&f, s.data() + offset, 4);
  return f;
}

std::uint32_t u32_at(const std::string& s, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + offset, 4);
  return v;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// The data line of entity `id`, without its line feed.
std::string entity(const std::string& text, std::uint64_t id) {
  const std::string key = "\n#" + std::to_string(id) + " = ";
  const std::size_t p = text.find(key);
  if (p == std::string::npos) return "";
  return text.substr(p + 1, text.find('\n', p + 1) - p - 1);
}

std::string step_string(std::string_view s) {
  std::string out;
  mesh_io::append_step_string(out, s);
  return out;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(FacetNormal, RightHandRuleAndDegenerate) {
  const Pnt n = mesh_io::facet_normal({0, 0, 0}, {2, 0, 0}, {0, 3, 0});
  EXPECT_EQ(n.x, 0.0);
  EXPECT_EQ(n.y, 0.0);
  EXPECT_EQ(n.z, 1.0);
  EXPECT_EQ(mesh_io::facet_normal({0, 0, 0}, {0, 1, 0}, {1, 0, 0}).z, -1.0);
  // Distinct collinear corners: shorter than 1e-9, so (0, 0, 1).
  const Pnt c = mesh_io::facet_normal({0, 0, 0}, {1, 1, 0}, {2, 2, 0});
  EXPECT_EQ(c.z, 1.0);
  // A cross product of length exactly 1e-9 is normalised, with the reciprocal.
  const Pnt s = mesh_io::facet_normal({0, 0, 0}, {1, 0, 0}, {0, 0, 1e-9});
  EXPECT_EQ(s.y, -1e-9 * (1.0 / 1e-9));
}

TEST(AsciiStl, OneTriangleByteForByte) {
  const TriMesh m = one_triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  EXPECT_EQ(write_ascii_stl(m, "t"),
            "solid t\n"
            "  facet normal 0 0 1\n"
            "    outer loop\n"
            "      vertex 0 0 0\n"
            "      vertex 1 0 0\n"
            "      vertex 0 1 0\n"
            "    endloop\n"
            "  endfacet\n"
            "endsolid t\n");
  const std::string flipped = write_ascii_stl(one_triangle({0, 0, 0}, {0, 1, 0}, {1, 0, 0}), "t");
  EXPECT_NE(flipped.find("\n  facet normal 0 0 -1\n"), std::string::npos);
}

TEST(AsciiStl, EmptyAndNames) {
  EXPECT_EQ(write_ascii_stl(TriMesh{}, ""), "solid \nendsolid \n");
  EXPECT_EQ(write_ascii_stl(TriMesh{}, "a\r\nb\nc"), "solid a  b c\nendsolid a  b c\n");
  // Other characters are verbatim, including apostrophes, backslashes, UTF-8.
  EXPECT_EQ(write_ascii_stl(TriMesh{}, "it's a\\b \xc3\xa9\t"),
            "solid it's a\\b \xc3\xa9\t\nendsolid it's a\\b \xc3\xa9\t\n");
}

TEST(AsciiStl, NumberForms) {
  const TriMesh m = one_triangle({0.1, -2, 1e-7}, {1e21, -0.0, 0.5}, {kNaN, kInf, -kInf});
  const std::string s = write_ascii_stl(m, "n");
  EXPECT_NE(s.find("      vertex 0.1 -2 0.0000001\n"), std::string::npos) << s;
  EXPECT_NE(s.find("      vertex 1000000000000000000000 -0 0.5\n"), std::string::npos) << s;
  EXPECT_NE(s.find("      vertex NaN inf -inf\n"), std::string::npos) << s;
}

TEST(AsciiStl, WeldedCopyDropsCollapsedFacets) {
  TriMesh m;
  mesh::push_triangle(m, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  mesh::push_triangle(m, {0, 0, 0}, {0, 0, 1e-8}, {0, 1, 0});  // first two corners weld
  mesh::push_triangle(m, {0, 0, 0}, {1, 1, 0}, {2, 2, 0});     // collinear, survives
  const std::string s = write_ascii_stl(m, "w");
  EXPECT_EQ(count_of(s, "facet normal"), 2u);
  EXPECT_EQ(count_of(s, "  facet normal 0 0 1\n"), 2u);
  EXPECT_EQ(write_binary_stl(m).size(), 84u + 2u * 50u);
  EXPECT_EQ(m.vertices.size(), 9u);  // the input is not changed
}

TEST(BinaryStl, HeaderAndRecordLayout) {
  const std::string empty = write_binary_stl(TriMesh{});
  ASSERT_EQ(empty.size(), 84u);
  EXPECT_EQ(empty.substr(0, 21), "Quorvalind binary STL");
  EXPECT_EQ(empty.substr(21, 59), std::string(59, '\0'));
  EXPECT_EQ(u32_at(empty, 80), 0u);

  const std::string b = write_binary_stl(one_triangle({0, 0, 0}, {1, 0, 0}, {0.1, 1, -2.5}));
  ASSERT_EQ(b.size(), 134u);
  EXPECT_EQ(b.substr(0, 80), empty.substr(0, 80));
  EXPECT_EQ(u32_at(b, 80), 1u);
  const float expected[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0.1f, 1, -2.5f};
  const Pnt n = mesh_io::facet_normal({0, 0, 0}, {1, 0, 0}, {0.1, 1, -2.5});
  const float normal[3] = {static_cast<float>(n.x), static_cast<float>(n.y),
                           static_cast<float>(n.z)};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(f32_at(b, 84 + 4 * i), normal[i]) << i;
  for (int i = 3; i < 12; ++i) EXPECT_EQ(f32_at(b, 84 + 4 * i), expected[i]) << i;
  EXPECT_EQ(b[132], '\0');
  EXPECT_EQ(b[133], '\0');

  const TriMesh box = brep_prim_api::make_box({0, 0, 0}, 1, 2, 3);
  const std::string bb = write_binary_stl(box);
  EXPECT_EQ(u32_at(bb, 80), 12u);
  EXPECT_EQ(bb.size(), 84u + 50u * 12u);
}

TEST(BinaryStl, OutOfRangeCoordinatesRoundWithoutCasts) {
  const double fmax = std::numeric_limits<float>::max();
  const std::string b =
      write_binary_stl(one_triangle({1e300, -1e300, fmax}, {0, 0, 0}, {kNaN, 0, 1}));
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(f32_at(b, 96), inf);
  EXPECT_EQ(f32_at(b, 100), -inf);
  EXPECT_EQ(f32_at(b, 104), std::numeric_limits<float>::max());
  EXPECT_TRUE(std::isnan(f32_at(b, 120)));
  // Just above FLT_MAX, below the halfway point to 2^128, rounds down.
  const std::string c =
      write_binary_stl(one_triangle({0x1.fffffe8p127, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  EXPECT_EQ(f32_at(c, 96), std::numeric_limits<float>::max());
  const std::string d =
      write_binary_stl(one_triangle({-0x1.ffffffp127, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  EXPECT_EQ(f32_at(d, 96), -inf);
}

TEST(BinaryStl, CountOverflow) {
  EXPECT_EQ(mesh_io::binary_stl_count(4294967295u), 4294967295u);
  EXPECT_THROW(mesh_io::binary_stl_count(std::size_t{1} << 32), mesh_io::CountOverflow);
  try {
    mesh_io::binary_stl_count(std::size_t{1} << 32);
  } catch (const std::overflow_error& e) {
    EXPECT_STREQ(e.what(),
                 "too many triangles for a binary STL file: 4294967296 (at most 4294967295)");
  }
}

TEST(Writers, BadIndexIsAnInternalFault) {
  TriMesh m;
  m.vertices.push_back({0, 0, 0});
  m.triangles.push_back({0, 1, 2});
  EXPECT_THROW(write_ascii_stl(m, "x"), gp::InternalFault);
  EXPECT_THROW(write_binary_stl(m), gp::InternalFault);
  EXPECT_THROW(write_step(m, "x"), gp::InternalFault);
}

TEST(StepString, Encoding) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"part", "part"},
      {"", ""},
      {"it's", "it''s"},
      {"a\\b", "a\\\\b"},
      {"a\r\nb", "a\\X2\\000D000A\\X0\\b"},
      {"caf\xc3\xa9", "caf\\X2\\00E9\\X0\\"},
      {"\xc3\xa9\xe6\x97\xa5x", "\\X2\\00E965E5\\X0\\x"},
      {"\xf0\x9f\x98\x80", "\\X2\\D83DDE00\\X0\\"},
      {"\x7f~", "\\X2\\007F\\X0\\~"},
      {"a\xff"
       "b",
       "a\\X2\\FFFD\\X0\\b"},
      {"\xc0\xaf", "\\X2\\FFFDFFFD\\X0\\"},      // overlong
      {"\xed\xa0\x80", "\\X2\\FFFDFFFDFFFD\\X0\\"},  // encoded surrogate
      {"\xe6\x97", "\\X2\\FFFDFFFD\\X0\\"},      // truncated
  };
  for (const Case& c : cases) EXPECT_EQ(step_string(c.in), c.out) << c.in;
  EXPECT_EQ(step_string(std::string_view("a\0b", 3)), "a\\X2\\0000\\X0\\b");
}

TEST(StepEmitter, NumbersFromOne) {
  mesh_io::StepEmitter em;
  EXPECT_EQ(em.emit("A()"), 1u);
  EXPECT_EQ(em.emit("B(#1)"), 2u);
  EXPECT_EQ(em.next_id, 3u);
  EXPECT_EQ(em.lines, "#1 = A();\n#2 = B(#1);\n");
}

TEST(Step, OneTriangleFile) {
  const std::string s = write_step(one_triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), "part");
  EXPECT_EQ(s,
            "ISO-10303-21;\n"
            "HEADER;\n"
            "FILE_DESCRIPTION(('Quorvalind faceted solid'),'2;1');\n"
            "FILE_NAME('part.step','',(''),(''),'Quorvalind','Quorvalind','');\n"
            "FILE_SCHEMA(('CONFIG_CONTROL_DESIGN'));\n"
            "ENDSEC;\n"
            "DATA;\n"
            "#1 = APPLICATION_CONTEXT('automotive design');\n"
            "#2 = APPLICATION_PROTOCOL_DEFINITION('international "
            "standard','config_control_design',2010,#1);\n"
            "#3 = (NAMED_UNIT(*)SI_UNIT($,.METRE.)LENGTH_UNIT());\n"
            "#4 = (NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.));\n"
            "#5 = (NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT());\n"
            "#6 = UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(1.E-06),#3,'distance','');\n"
            "#7 = (GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((#6))"
            "GLOBAL_UNIT_ASSIGNED_CONTEXT((#3,#4,#5))REPRESENTATION_CONTEXT('Context','3D'));\n"
            "#8 = CARTESIAN_POINT('',(0.000000,0.000000,0.000000));\n"
            "#9 = CARTESIAN_POINT('',(1.000000,0.000000,0.000000));\n"
            "#10 = CARTESIAN_POINT('',(0.000000,1.000000,0.000000));\n"
            "#11 = POLY_LOOP('',(#8,#9,#10));\n"
            "#12 = FACE_OUTER_BOUND('',#11,.T.);\n"
            "#13 = DIRECTION('',(0.000000,0.000000,1.000000));\n"
            "#14 = AXIS2_PLACEMENT_3D('',#8,#13,$);\n"
            "#15 = PLANE('',#14);\n"
            "#16 = FACE_SURFACE('',(#12),#15,.T.);\n"
            "#17 = CLOSED_SHELL('',(#16));\n"
            "#18 = FACETED_BREP('part',#17);\n"
            "#19 = FACETED_BREP_SHAPE_REPRESENTATION('part',(#18),#7);\n"
            "#20 = MECHANICAL_CONTEXT('',#1,'mechanical');\n"
            "#21 = PRODUCT('part','part','',(#20));\n"
            "#22 = PRODUCT_DEFINITION_FORMATION('','',#21);\n"
            "#23 = PRODUCT_DEFINITION_CONTEXT('part definition',#1,'design');\n"
            "#24 = PRODUCT_DEFINITION('design','',#22,#23);\n"
            "#25 = PRODUCT_DEFINITION_SHAPE('','',#24);\n"
            "#26 = SHAPE_DEFINITION_REPRESENTATION(#25,#19);\n"
            "ENDSEC;\n"
            "END-ISO-10303-21;\n");
}

TEST(Step, EmptyMesh) {
  const std::string s = write_step(TriMesh{}, "");
  EXPECT_EQ(entity(s, 8), "#8 = CLOSED_SHELL('',());");
  EXPECT_EQ(entity(s, 9), "#9 = FACETED_BREP('',#8);");
  EXPECT_EQ(entity(s, 10), "#10 = FACETED_BREP_SHAPE_REPRESENTATION('',(#9),#7);");
  EXPECT_EQ(entity(s, 17), "#17 = SHAPE_DEFINITION_REPRESENTATION(#16,#10);");
  EXPECT_EQ(entity(s, 18), "");
  EXPECT_NE(s.find("FILE_NAME('.step',"), std::string::npos);
}

TEST(Step, BoxIds) {
  const TriMesh box = brep_prim_api::make_box({0, 0, 0}, 1, 2, 3);
  const std::string s = write_step(box, "box");
  // V = 8, T = 12: faces at 8 + V + 6t + 5, shell at 8 + V + 6T.
  std::string faces;
  for (int t = 0; t < 12; ++t) faces += (t ? ",#" : "#") + std::to_string(21 + 6 * t);
  EXPECT_EQ(entity(s, 88), "#88 = CLOSED_SHELL('',(" + faces + "));");
  EXPECT_EQ(entity(s, 89), "#89 = FACETED_BREP('box',#88);");
  EXPECT_EQ(entity(s, 90), "#90 = FACETED_BREP_SHAPE_REPRESENTATION('box',(#89),#7);");
  EXPECT_EQ(entity(s, 97), "#97 = SHAPE_DEFINITION_REPRESENTATION(#96,#90);");
  EXPECT_EQ(entity(s, 98), "");
  // Triangle 2 is (E, F, G) = vertices 4, 5, 6, facing +z.
  EXPECT_EQ(entity(s, 28), "#28 = POLY_LOOP('',(#12,#13,#14));");
  EXPECT_EQ(entity(s, 30), "#30 = DIRECTION('',(0.000000,0.000000,1.000000));");
  EXPECT_EQ(entity(s, 31), "#31 = AXIS2_PLACEMENT_3D('',#12,#30,$);");
  EXPECT_EQ(entity(s, 33), "#33 = FACE_SURFACE('',(#29),#32,.T.);");
  EXPECT_EQ(count_of(s, "CARTESIAN_POINT"), 8u);
  EXPECT_EQ(s, write_step(box, "box"));  // no time stamp: same input, same text
}

TEST(Step, NamesAndRounding) {
  const TriMesh m = one_triangle({0.0000004, 0.0000006, -1e-7}, {1e20, -2.5, 0}, {0, 1, 0});
  const std::string s = write_step(m, "it's\\\xc3\xa9.step");
  const std::string n = "'it''s\\\\\\X2\\00E9\\X0\\.step'";
  EXPECT_NE(s.find("FILE_NAME('it''s\\\\\\X2\\00E9\\X0\\.step.step',"), std::string::npos) << s;
  EXPECT_EQ(entity(s, 18), "#18 = FACETED_BREP(" + n + ",#17);");
  EXPECT_EQ(entity(s, 19), "#19 = FACETED_BREP_SHAPE_REPRESENTATION(" + n + ",(#18),#7);");
  EXPECT_EQ(entity(s, 21), "#21 = PRODUCT(" + n + "," + n + ",'',(#20));");
  EXPECT_EQ(entity(s, 8), "#8 = CARTESIAN_POINT('',(0.000000,0.000001,-0.000000));");
  EXPECT_EQ(entity(s, 9),
            "#9 = CARTESIAN_POINT('',(100000000000000000000.000000,-2.500000,0.000000));");
  // CR and LF never reach a line of their own.
  const std::string t = write_step(m, "a\nb");
  EXPECT_EQ(count_of(t, "\n"), count_of(write_step(m, "ab"), "\n"));
  EXPECT_NE(t.find("FILE_NAME('a\\X2\\000A\\X0\\b.step',"), std::string::npos);
}

TEST(Step, WeldedPointsAreShared) {
  const TriMesh cyl = brep_prim_api::make_cylinder(8, 1, 1);
  TriMesh soup;  // the same triangles unwelded: the writer welds them back
  for (const mesh::Triangle& t : cyl.triangles) {
    mesh::push_triangle(soup, cyl.vertices[t[0]], cyl.vertices[t[1]], cyl.vertices[t[2]]);
  }
  const std::string s = write_step(soup, "c");
  EXPECT_EQ(count_of(s, "CARTESIAN_POINT"), cyl.vertices.size());
  EXPECT_EQ(count_of(s, "FACE_SURFACE"), cyl.triangles.size());
}

TEST(BinaryStl, IntoCallerBuffer) {
  const TriMesh box = brep_prim_api::make_box({0, 0, 0}, 1, 2, 3);
  std::string mine;
  int calls = 0;
  mesh_io::write_binary_stl_into(box, [&](std::size_t size) {
    ++calls;
    mine.assign(size, '\x55');  // every byte must be overwritten
    return mine.data();
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(mine, write_binary_stl(box));
  // A caller that cannot provide the buffer abandons the write.
  calls = 0;
  mesh_io::write_binary_stl_into(box, [&](std::size_t) -> char* {
    ++calls;
    return nullptr;
  });
  EXPECT_EQ(calls, 1);
}

// The writer maps corners through the weld instead of building the welded
// copy; writing that copy (which welds to itself) must give the same bytes,
// byte for byte.
TEST(BinaryStl, SameBytesAsTheWeldedCopy) {
  for (unsigned seed : {11u, 12u, 13u}) {
    const TriMesh m = test::hostile_soup(seed, 2000, 3000);
    const TriMesh w = mesh::welded(m, gp::BUILDER_WELD_TOLERANCE);
    ASSERT_LT(w.triangles.size(), m.triangles.size());  // some facets collapse
    const std::string bytes = write_binary_stl(m);
    EXPECT_EQ(u32_at(bytes, 80), w.triangles.size());
    EXPECT_EQ(bytes, write_binary_stl(w)) << seed;
  }
}

// ---- Binary STL: every plan against the plain writer -------------------

namespace {

// Nearest float32 as the format asks for it, written out plainly: NaN keeps
// only its sign, values past FLT_MAX go to FLT_MAX or infinity at the
// halfway point to 2^128.
float plain_f32(double v) {
  if (std::isnan(v)) return std::copysign(std::numeric_limits<float>::quiet_NaN(), v);
  if (std::fabs(v) <= std::numeric_limits<float>::max()) return static_cast<float>(v);
  const float big = std::fabs(v) >= 0x1.ffffffp127 ? std::numeric_limits<float>::infinity()
                                                   : std::numeric_limits<float>::max();
  return std::copysign(big, v);
}

// The writer as first built: weld into a copy, then one record per welded
// triangle with facet_normal, value by value.
std::string plain_binary_stl(const TriMesh& m) {
  const TriMesh w = mesh::welded(m, gp::BUILDER_WELD_TOLERANCE);
  std::string out = "Quorvalind binary STL";
  out.resize(80, '\0');
  const std::uint32_t count = static_cast<std::uint32_t>(w.triangles.size());
  out.append(reinterpret_cast<const char*>(&count), 4);
  auto put = [&out](const Pnt& p) {
    for (double v : {p.x, p.y, p.z}) {
      const float f = plain_f32(v);
      out.append(reinterpret_cast<const char*>(&f), 4);
    }
  };
  for (const mesh::Triangle& t : w.triangles) {
    const Pnt &a = w.vertices[t[0]], &b = w.vertices[t[1]], &c = w.vertices[t[2]];
    put(mesh_io::facet_normal(a, b, c));
    put(a);
    put(b);
    put(c);
    out.append(2, '\0');
  }
  return out;
}

std::string binary_stl_with(const TriMesh& m, const mesh_io::BinaryStlPlan& plan) {
  std::string out;
  mesh_io::write_binary_stl_into(
      m,
      [&out](std::size_t size) {
        out.assign(size, '\x55');  // every byte must be overwritten
        return out.data();
      },
      plan);
  return out;
}

double with_bits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

// hostile_soup with NaNs of both signs and with payloads, values around the
// float range's end and float subnormals sprinkled in, so that records
// carry every kind of value and NaN normals of both signs.
TriMesh writer_soup(unsigned seed, std::size_t vertices, std::size_t triangles) {
  TriMesh m = test::hostile_soup(seed, vertices, triangles);
  const double odd[] = {with_bits(0xFFF8000000000000ull),
                        with_bits(0x7FF80000DEADBEEFull),
                        with_bits(0xFFFFFFFFFFFFFFFFull),
                        with_bits(0x7FF4000000000001ull),
                        0x1.fffffe8p127,
                        -0x1.ffffffp127,
                        3.4028235677973366e38,
                        1e-40,
                        -1e-310};
  std::mt19937_64 rng(seed + 1000);
  for (Pnt& p : m.vertices) {
    if (rng() % 8 == 0) (&p.x)[rng() % 3] = odd[rng() % (sizeof odd / sizeof odd[0])];
  }
  return m;
}

// A closed sphere as a soup whose repeated corners are copied exactly or
// moved by less than a weld cell, some across a cell boundary.
TriMesh jittered_soup(unsigned seed) {
  const TriMesh s = brep_prim_api::make_sphere(48, 24, 1.0);
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> jitter(-6e-8, 6e-8);
  TriMesh m;
  auto corner = [&](std::uint64_t i) {
    Pnt p = s.vertices[i];
    if (rng() % 3 == 0) p.x += jitter(rng);
    return p;
  };
  for (const mesh::Triangle& t : s.triangles)
    mesh::push_triangle(m, corner(t[0]), corner(t[1]), corner(t[2]));
  return m;
}

int refuse_to_start(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }

struct PlanCase {
  const char* name;
  mesh_io::BinaryStlPlan plan;
};

mesh_io::BinaryStlPlan plan(std::size_t two_from, bool wide, bool packed,
                            gp::ThreadStarter start = &pthread_create) {
  mesh_io::BinaryStlPlan p;
  p.two_threads_from = two_from;
  p.wide_indices = wide;
  p.packed = packed;
  p.start = start;
  return p;
}

const PlanCase kPlans[] = {
    {"default", mesh_io::BinaryStlPlan{}},
    {"one_thread", plan(SIZE_MAX, false, true)},
    {"two_threads", plan(1, false, true)},
    {"two_threads_wide", plan(1, true, true)},
    {"value_by_value", plan(1, false, false)},
    {"wide_value_by_value", plan(SIZE_MAX, true, false)},
    {"thread_refused", plan(1, false, true, &refuse_to_start)},
};

class BinaryStlPlans : public ::testing::TestWithParam<PlanCase> {};

}  // namespace

TEST_P(BinaryStlPlans, SameBytesAsThePlainWriter) {
  const mesh_io::BinaryStlPlan& p = GetParam().plan;
  for (unsigned seed : {21u, 22u, 23u}) {
    const TriMesh m = writer_soup(seed, 3000, 5001);
    const std::string expected = plain_binary_stl(m);
    ASSERT_LT(u32_at(expected, 80), 5001u);  // some facets collapse
    EXPECT_EQ(binary_stl_with(m, p), expected) << seed;
  }
  const TriMesh soup = jittered_soup(5);
  EXPECT_EQ(binary_stl_with(soup, p), plain_binary_stl(soup));
  // Too few triangles to split: the first or only half may be empty.
  for (std::size_t n : {0u, 1u, 2u, 3u}) {
    const TriMesh small = writer_soup(30 + n, 8, n);
    EXPECT_EQ(binary_stl_with(small, p), plain_binary_stl(small)) << n;
  }
}

// The first out-of-range index in triangle order, corner order within a
// triangle, is the one reported, whichever half it is in.
TEST_P(BinaryStlPlans, FirstBadIndexInTriangleOrder) {
  const mesh_io::BinaryStlPlan& p = GetParam().plan;
  const TriMesh good = writer_soup(40, 50, 100);
  struct Bad {
    std::size_t triangle;
    int corner;
    std::uint64_t index;
  };
  const std::vector<std::vector<Bad>> cases = {
      {{99, 2, 50}},
      {{70, 1, 51}, {90, 0, 52}},
      {{10, 2, 53}, {10, 1, 54}, {80, 0, 55}},
  };
  for (const auto& bads : cases) {
    TriMesh m = good;
    for (const Bad& b : bads) m.triangles[b.triangle][b.corner] = b.index;
    std::string expected;
    try {
      mesh::welded(m, gp::BUILDER_WELD_TOLERANCE);
    } catch (const gp::InternalFault& e) {
      expected = e.what();
    }
    ASSERT_FALSE(expected.empty());
    int calls = 0;
    try {
      mesh_io::write_binary_stl_into(
          m,
          [&](std::size_t) -> char* {
            ++calls;
            return nullptr;
          },
          p);
      ADD_FAILURE() << "no fault for " << expected;
    } catch (const gp::InternalFault& e) {
      EXPECT_EQ(std::string(e.what()), expected);
    }
    EXPECT_EQ(calls, 0);  // nothing is asked for before the checks pass
  }
}

INSTANTIATE_TEST_SUITE_P(Plans, BinaryStlPlans, ::testing::ValuesIn(kPlans),
                         [](const auto& info) { return std::string(info.param.name); });

// The packed conversion rounds like to_f32 only in the default mode; in any
// other the writer must fall back to converting value by value.
TEST(BinaryStl, OtherRoundingModesConvertValueByValue) {
  const TriMesh m = writer_soup(50, 2000, 3000);
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    const std::string expected = plain_binary_stl(m);
    const std::string one = binary_stl_with(m, plan(SIZE_MAX, false, true));
    const std::string two = binary_stl_with(m, plan(1, false, true));
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(one, expected) << mode;
    EXPECT_EQ(two, expected) << mode;
  }
}

// ---- Vertices on edges: the files pair every edge --------------------------

namespace {

// The unit cube with its top face cut at m = (0.5, 0, 1) on the top's edge
// 4-5, so the front triangle (0, 5, 4) runs past m: one T-junction, moved
// off the edge as a weld would leave it.
TriMesh cube_with_t_junction() {
  TriMesh m;
  m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},     {0, 0, 1},
                {1, 0, 1}, {1, 1, 1}, {0, 1, 1}, {0.5, 2e-6, 1}};
  m.triangles = {{0, 2, 1}, {0, 3, 2}, {4, 8, 7}, {8, 5, 6}, {8, 6, 7}, {0, 1, 5}, {0, 5, 4},
                 {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  return m;
}

// The facets of a binary STL as a mesh over their distinct float corners.
TriMesh facets_of(const std::string& stl) {
  TriMesh m;
  std::map<std::array<float, 3>, std::uint64_t> ids;
  const std::uint32_t n = u32_at(stl, 80);
  for (std::uint32_t i = 0; i < n; ++i) {
    mesh::Triangle t;
    for (int k = 0; k < 3; ++k) {
      const std::size_t at = 84 + 50 * std::size_t{i} + 12 + 12 * k;
      const std::array<float, 3> p = {f32_at(stl, at), f32_at(stl, at + 4), f32_at(stl, at + 8)};
      auto [it, fresh] = ids.emplace(p, m.vertices.size());
      if (fresh) m.vertices.push_back({p[0], p[1], p[2]});
      t[k] = it->second;
    }
    m.triangles.push_back(t);
  }
  return m;
}

}  // namespace

TEST(SplitFacets, BinaryStlPairsEveryEdge) {
  const TriMesh m = cube_with_t_junction();
  ASSERT_GT(test::unmatched_edges(m), 0u);
  for (const PlanCase& p : kPlans) {
    const std::string bytes = binary_stl_with(m, p.plan);
    ASSERT_EQ(u32_at(bytes, 80), 14u) << p.name;  // the front triangle in two
    ASSERT_EQ(bytes.size(), 84u + 14u * 50u);
    const TriMesh back = facets_of(bytes);
    EXPECT_EQ(test::unmatched_edges(back), 0u) << p.name;
    EXPECT_NEAR(mesh::volume(back), 1.0, 1e-5);
    // The pieces sit where the front triangle was; the rest is unchanged.
    EXPECT_EQ(bytes.substr(84, 50 * 6), write_binary_stl(m).substr(84, 50 * 6));
    EXPECT_EQ(bytes.substr(84 + 50 * 8), write_binary_stl(m).substr(84 + 50 * 8));
  }
}

TEST(SplitFacets, AsciiStlMatchesTheBinaryFacets) {
  const TriMesh m = cube_with_t_junction();
  const std::string s = write_ascii_stl(m, "t");
  EXPECT_EQ(count_of(s, "facet normal"), 14u);
  EXPECT_EQ(count_of(s, "      vertex 0.5 0.000002 1\n"), 5u);  // 3 top facets + 2 front pieces
  // Every facet's normal is its own corners' right-hand normal.
  std::istringstream in(s);
  std::string line;
  std::vector<Pnt> corners;
  Pnt normal{};
  int facets = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string w;
    words >> w;
    if (w == "facet") {
      words >> w >> normal.x >> normal.y >> normal.z;
      corners.clear();
    } else if (w == "vertex") {
      Pnt p;
      words >> p.x >> p.y >> p.z;
      corners.push_back(p);
    } else if (w == "endloop") {
      ASSERT_EQ(corners.size(), 3u);
      const Pnt n = mesh_io::facet_normal(corners[0], corners[1], corners[2]);
      EXPECT_EQ(n.x, normal.x);
      EXPECT_EQ(n.y, normal.y);
      EXPECT_EQ(n.z, normal.z);
      ++facets;
    }
  }
  EXPECT_EQ(facets, 14);
}

TEST(SplitFacets, StepLoopListsTheVertexOnItsEdge) {
  const TriMesh m = cube_with_t_junction();
  const std::string s = write_step(m, "t");
  // V = 9, T = 13: triangle 6's loop is #(8 + 9 + 36) = #53, over points
  // 0, 5, m (= 8), 4 at #8 + index; the face, plane and direction stay one.
  EXPECT_EQ(entity(s, 53), "#53 = POLY_LOOP('',(#8,#13,#16,#12));");
  EXPECT_EQ(entity(s, 55), "#55 = DIRECTION('',(0.000000,-1.000000,0.000000));");
  EXPECT_EQ(count_of(s, "POLY_LOOP"), 13u);
  EXPECT_EQ(count_of(s, "FACE_SURFACE"), 13u);
  // Every other loop is its three corners, as before.
  EXPECT_EQ(entity(s, 47), "#47 = POLY_LOOP('',(#8,#9,#13));");
  EXPECT_EQ(entity(s, 29), "#29 = POLY_LOOP('',(#12,#16,#15));");
}
