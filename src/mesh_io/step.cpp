#include "mesh_io/step.h"

#include <charconv>
#include <utility>

#include "gp/text_format.h"
#include "gp/tolerances.h"
#include "mesh/edge_splits.h"
#include "mesh_io/facet_normal.h"

namespace quorvalind::mesh_io {

using gp::Pnt;

namespace {

// Decimals of every STEP coordinate and direction component.
constexpr int kStepDigits = 6;

void append_id(std::string& out, std::uint64_t id) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, id);
  out += '#';
  out.append(buf, res.ptr);
}

void append_coords(std::string& out, const Pnt& p) {
  out += '(';
  gp::append_fixed(out, p.x, kStepDigits);
  out += ',';
  gp::append_fixed(out, p.y, kStepDigits);
  out += ',';
  gp::append_fixed(out, p.z, kStepDigits);
  out += ')';
}

// Decodes one UTF-8 sequence at s[i], advancing i; U+FFFD for a malformed,
// overlong, surrogate or out-of-range sequence (one byte consumed).
char32_t next_code_point(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int len = 0;
  char32_t cp = 0, min = 0;
  if ((lead & 0xE0) == 0xC0) {
    len = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    len = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    len = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (s.size() - i < static_cast<std::size_t>(len)) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<std::size_t>(len);
  return cp;
}

void append_hex4(std::string& out, unsigned unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::uint64_t StepEmitter::emit(std::string_view body) {
  const std::uint64_t id = next_id++;
  append_id(lines, id);
  lines += " = ";
  lines += body;
  lines += ";\n";
  return id;
}

void append_step_string(std::string& out, std::string_view utf8) {
  bool in_run = false;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = next_code_point(utf8, i);
    const bool plain = cp >= 0x20 && cp <= 0x7E;
    if (plain && in_run) {
      out += "\\X0\\";
      in_run = false;
    }
    if (plain) {
      if (cp == '\'' || cp == '\\') out += static_cast<char>(cp);
      out += static_cast<char>(cp);
      continue;
    }
    if (!in_run) {
      out += "\\X2\\";
      in_run = true;
    }
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      append_hex4(out, 0xD800 + static_cast<unsigned>(v >> 10));
      append_hex4(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
    } else {
      append_hex4(out, static_cast<unsigned>(cp));
    }
  }
  if (in_run) out += "\\X0\\";
}

std::string write_step(const mesh::TriMesh& m, std::string_view name) {
  const mesh::TriMesh w = mesh::welded(m, gp::BUILDER_WELD_TOLERANCE);
  // Vertices on a triangle's edges go into its loop, so that the shell's
  // edges pair up; the face keeps its one plane.
  const mesh::EdgeSplits splits = mesh::find_edge_splits(w);
  std::string quoted_name;
  quoted_name += '\'';
  append_step_string(quoted_name, name);
  quoted_name += '\'';

  StepEmitter em;
  // About 60 bytes per point and 330 per triangle with its shell reference.
  em.lines.reserve(4096 + 6 * quoted_name.size() + 60 * w.vertices.size() +
                   330 * w.triangles.size() + 10 * splits.points.size());

  const std::uint64_t app = em.emit("APPLICATION_CONTEXT('automotive design')");
  std::string body =
      "APPLICATION_PROTOCOL_DEFINITION('international standard','config_control_design',2010,";
  append_id(body, app);
  body += ')';
  em.emit(body);
  const std::uint64_t metre = em.emit("(NAMED_UNIT(*)SI_UNIT($,.METRE.)LENGTH_UNIT())");
  const std::uint64_t radian = em.emit("(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.))");
  const std::uint64_t steradian =
      em.emit("(NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT())");
  body = "UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(1.E-06),";
  append_id(body, metre);
  body += ",'distance','')";
  const std::uint64_t uncertainty = em.emit(body);
  body = "(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((";
  append_id(body, uncertainty);
  body += "))GLOBAL_UNIT_ASSIGNED_CONTEXT((";
  append_id(body, metre);
  body += ',';
  append_id(body, radian);
  body += ',';
  append_id(body, steradian);
  body += "))REPRESENTATION_CONTEXT('Context','3D'))";
  const std::uint64_t context = em.emit(body);

  // Vertex k is point 8 + k.
  const std::uint64_t first_point = em.next_id;
  for (const Pnt& p : w.vertices) {
    body = "CARTESIAN_POINT('',";
    append_coords(body, p);
    body += ')';
    em.emit(body);
  }

  std::string shell = "CLOSED_SHELL('',(";
  shell.reserve(shell.size() + 12 * w.triangles.size() + 2);
  bool first_face = true;
  for (std::size_t ti = 0; ti < w.triangles.size(); ++ti) {
    const mesh::Triangle& t = w.triangles[ti];
    const std::uint64_t p0 = first_point + t[0];
    body = "POLY_LOOP('',(";
    for (int k = 0; k < 3; ++k) {
      if (k > 0) body += ',';
      append_id(body, first_point + t[k]);
      for (const std::uint64_t v : splits.on_edge(ti, k)) {
        body += ',';
        append_id(body, first_point + v);
      }
    }
    body += "))";
    const std::uint64_t loop = em.emit(body);
    body = "FACE_OUTER_BOUND('',";
    append_id(body, loop);
    body += ",.T.)";
    const std::uint64_t bound = em.emit(body);
    body = "DIRECTION('',";
    append_coords(body, facet_normal(w.vertices[t[0]], w.vertices[t[1]], w.vertices[t[2]]));
    body += ')';
    const std::uint64_t dir = em.emit(body);
    body = "AXIS2_PLACEMENT_3D('',";
    append_id(body, p0);
    body += ',';
    append_id(body, dir);
    body += ",$)";
    const std::uint64_t placement = em.emit(body);
    body = "PLANE('',";
    append_id(body, placement);
    body += ')';
    const std::uint64_t plane = em.emit(body);
    body = "FACE_SURFACE('',(";
    append_id(body, bound);
    body += "),";
    append_id(body, plane);
    body += ",.T.)";
    const std::uint64_t face = em.emit(body);
    if (!first_face) shell += ',';
    first_face = false;
    append_id(shell, face);
  }
  shell += "))";
  const std::uint64_t shell_id = em.emit(shell);

  body = "FACETED_BREP(" + quoted_name + ',';
  append_id(body, shell_id);
  body += ')';
  const std::uint64_t brep = em.emit(body);
  body = "FACETED_BREP_SHAPE_REPRESENTATION(" + quoted_name + ",(";
  append_id(body, brep);
  body += "),";
  append_id(body, context);
  body += ')';
  const std::uint64_t representation = em.emit(body);

  // The product that holds the shape: readers find the solid through it.
  body = "MECHANICAL_CONTEXT('',";
  append_id(body, app);
  body += ",'mechanical')";
  const std::uint64_t product_context = em.emit(body);
  body = "PRODUCT(" + quoted_name + ',' + quoted_name + ",'',(";
  append_id(body, product_context);
  body += "))";
  const std::uint64_t product = em.emit(body);
  body = "PRODUCT_DEFINITION_FORMATION('','',";
  append_id(body, product);
  body += ')';
  const std::uint64_t formation = em.emit(body);
  body = "PRODUCT_DEFINITION_CONTEXT('part definition',";
  append_id(body, app);
  body += ",'design')";
  const std::uint64_t definition_context = em.emit(body);
  body = "PRODUCT_DEFINITION('design','',";
  append_id(body, formation);
  body += ',';
  append_id(body, definition_context);
  body += ')';
  const std::uint64_t definition = em.emit(body);
  body = "PRODUCT_DEFINITION_SHAPE('','',";
  append_id(body, definition);
  body += ')';
  const std::uint64_t definition_shape = em.emit(body);
  body = "SHAPE_DEFINITION_REPRESENTATION(";
  append_id(body, definition_shape);
  body += ',';
  append_id(body, representation);
  body += ')';
  em.emit(body);

  std::string header = "ISO-10303-21;\nHEADER;\n";
  header += "FILE_DESCRIPTION(('Quorvalind faceted solid'),'2;1');\n";
  header += "FILE_NAME('";
  append_step_string(header, name);
  header += ".step','',(''),(''),'Quorvalind','Quorvalind','');\n";
  header += "FILE_SCHEMA(('CONFIG_CONTROL_DESIGN'));\nENDSEC;\nDATA;\n";
  // The reserve above left room, so the data section moves in place.
  std::string out = std::move(em.lines);
  out.insert(0, header);
  out += "ENDSEC;\nEND-ISO-10303-21;\n";
  return out;
}

}  // namespace quorvalind::mesh_io
