"""STL and STEP writers: exact text, and real readers that open the files."""
import math
import struct

import pytest

import quorvalind as q
from quorvalind import MeshParams, Pnt
from quorvalind import io as qio
from quorvalind import prim

from mesh_checks import signed_volume, triangles_of, vertices_of

ONE_TRIANGLE = ([0, 0, 0, 1, 0, 0, 0, 1, 0], [0, 1, 2])


def tri_mesh(vertices, triangles):
    return q.solid_from_mesh(vertices, triangles).mesh()


def facet_normals(mesh):
    """The writers' rule: (b - a) x (c - a), times 1/len; (0, 0, 1) below 1e-9."""
    v = vertices_of(mesh)
    out = []
    for i, j, k in triangles_of(mesh):
        a, b, c = v[i], v[j], v[k]
        u = [b[n] - a[n] for n in range(3)]
        w = [c[n] - a[n] for n in range(3)]
        n = (u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0])
        length = math.sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2])
        if length < 1e-9:
            out.append((0.0, 0.0, 1.0))
        else:
            r = 1.0 / length
            out.append((n[0] * r, n[1] * r, n[2] * r))
    return out


# --- exact output -------------------------------------------------------------

def test_ascii_one_triangle():
    text = qio.write_ascii_stl(tri_mesh(*ONE_TRIANGLE), "t")
    assert text == ("solid t\n  facet normal 0 0 1\n    outer loop\n      vertex 0 0 0\n"
                    "      vertex 1 0 0\n      vertex 0 1 0\n    endloop\n  endfacet\nendsolid t\n")
    flipped = qio.write_ascii_stl(tri_mesh(ONE_TRIANGLE[0], [0, 2, 1]), "t")
    assert "\n  facet normal 0 0 -1\n" in flipped


@pytest.mark.parametrize("name, written", [
    ("", ""),
    ("a\r\nb", "a  b"),
    ("line\nbreak", "line break"),
    ("it's \\ caf\u00e9", "it's \\ caf\u00e9"),
])
def test_ascii_names(name, written):
    empty = q.solid_from_mesh([], []).mesh()
    assert qio.write_ascii_stl(empty, name) == f"solid {written}\nendsolid {written}\n"


def test_binary_layout():
    empty = qio.write_binary_stl(q.solid_from_mesh([], []).mesh())
    assert empty == b"Quorvalind binary STL" + bytes(59) + struct.pack("<I", 0)
    data = qio.write_binary_stl(tri_mesh([0, 0, 0, 1, 0, 0, 0.1, 1, -2.5], [0, 1, 2]))
    assert len(data) == 134 and data[:80] == empty[:80]
    assert struct.unpack_from("<I", data, 80) == (1,)
    floats = struct.unpack_from("<12f", data, 84)
    expected = struct.unpack("<9f", struct.pack("<9f", 0, 0, 0, 1, 0, 0, 0.1, 1, -2.5))
    assert floats[3:] == expected
    assert floats[2] == struct.unpack("<f", struct.pack("<f", facet_normals(
        tri_mesh([0, 0, 0, 1, 0, 0, 0.1, 1, -2.5], [0, 1, 2]))[0][2]))[0]
    assert data[132:] == b"\0\0"


def test_writers_weld_their_copy():
    # The second triangle's first two corners share a weld cell: it is dropped.
    m = tri_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1e-8], [0, 1, 2, 0, 3, 2])
    assert qio.write_ascii_stl(m, "w").count("facet normal") == 1
    assert len(qio.write_binary_stl(m)) == 84 + 50
    assert qio.write_step(m, "w").count("FACE_SURFACE") == 1
    assert m.num_triangles == 2


def test_step_one_triangle_data_section():
    text = qio.write_step(tri_mesh(*ONE_TRIANGLE), "part")
    lines = text.split("\n")
    assert lines[:7] == ["ISO-10303-21;", "HEADER;",
                         "FILE_DESCRIPTION(('Quorvalind faceted solid'),'2;1');",
                         "FILE_NAME('part.step','',(''),(''),'Quorvalind','Quorvalind','');",
                         "FILE_SCHEMA(('CONFIG_CONTROL_DESIGN'));", "ENDSEC;", "DATA;"]
    assert lines[7] == "#1 = APPLICATION_CONTEXT('automotive design');"
    assert lines[14:33] == [
        "#8 = CARTESIAN_POINT('',(0.000000,0.000000,0.000000));",
        "#9 = CARTESIAN_POINT('',(1.000000,0.000000,0.000000));",
        "#10 = CARTESIAN_POINT('',(0.000000,1.000000,0.000000));",
        "#11 = POLY_LOOP('',(#8,#9,#10));",
        "#12 = FACE_OUTER_BOUND('',#11,.T.);",
        "#13 = DIRECTION('',(0.000000,0.000000,1.000000));",
        "#14 = AXIS2_PLACEMENT_3D('',#8,#13,$);",
        "#15 = PLANE('',#14);",
        "#16 = FACE_SURFACE('',(#12),#15,.T.);",
        "#17 = CLOSED_SHELL('',(#16));",
        "#18 = FACETED_BREP('part',#17);",
        "#19 = FACETED_BREP_SHAPE_REPRESENTATION('part',(#18),#7);",
        "#20 = MECHANICAL_CONTEXT('',#1,'mechanical');",
        "#21 = PRODUCT('part','part','',(#20));",
        "#22 = PRODUCT_DEFINITION_FORMATION('','',#21);",
        "#23 = PRODUCT_DEFINITION_CONTEXT('part definition',#1,'design');",
        "#24 = PRODUCT_DEFINITION('design','',#22,#23);",
        "#25 = PRODUCT_DEFINITION_SHAPE('','',#24);",
        "#26 = SHAPE_DEFINITION_REPRESENTATION(#25,#19);",
    ]
    assert lines[33:] == ["ENDSEC;", "END-ISO-10303-21;", ""]


@pytest.mark.parametrize("name, encoded", [
    ("part", "part"),
    ("it's", "it''s"),
    ("back\\slash", "back\\\\slash"),
    ("caf\u00e9 \u65e5\u672c", "caf\\X2\\00E9\\X0\\ \\X2\\65E5672C\\X0\\"),
    ("a\r\nb", "a\\X2\\000D000A\\X0\\b"),
    ("\U0001F600", "\\X2\\D83DDE00\\X0\\"),
    ("x.step", "x.step"),
])
def test_step_names(name, encoded):
    text = qio.write_step(q.solid_from_mesh([], []).mesh(), name)
    assert f"FILE_NAME('{encoded}.step','',(''),(''),'Quorvalind','Quorvalind','');\n" in text
    assert f"#9 = FACETED_BREP('{encoded}',#8);\n" in text
    assert f"#12 = PRODUCT('{encoded}','{encoded}','',(#11));\n" in text
    assert text.isascii()


def test_step_box_ids():
    text = qio.write_step(prim.make_box(Pnt(0, 0, 0), 1, 2, 3).mesh(), "box")
    faces = ",".join(f"#{21 + 6 * t}" for t in range(12))
    assert f"\n#88 = CLOSED_SHELL('',({faces}));\n" in text
    assert "\n#90 = FACETED_BREP_SHAPE_REPRESENTATION('box',(#89),#7);\n" in text
    assert "\n#97 = SHAPE_DEFINITION_REPRESENTATION(#96,#90);\n" in text
    assert "#98 = " not in text


def test_bad_arguments():
    m = tri_mesh(*ONE_TRIANGLE)
    with pytest.raises(TypeError, match="argument 'mesh'"):
        qio.write_binary_stl(prim.make_box(Pnt(0, 0, 0), 1, 1, 1))
    with pytest.raises(TypeError, match="argument 'name'"):
        qio.write_ascii_stl(m, b"bytes")
    with pytest.raises(TypeError, match="argument 'name'"):
        qio.write_step(m, 5)


@pytest.mark.parametrize("write", [lambda m: qio.write_ascii_stl(m, "x"), qio.write_binary_stl,
                                   lambda m: qio.write_step(m, "x")])
def test_bad_index_is_an_internal_fault(write):
    m = tri_mesh([0, 0, 0], [0, 1, 2])
    with pytest.raises(BaseException, match="index out of bounds: the len is 1 but the index is 1") as e:
        write(m)
    assert not isinstance(e.value, Exception)


def numpy_binary_stl(np, vertices, triangles):
    """Binary STL of a mesh as the format defines it, computed with numpy:
    weld at 1e-7 (first vertex of each cell), drop collapsed triangles,
    normal and corners of each survivor as float32."""
    scaled = vertices * (1.0 / 1e-7)
    whole = np.trunc(scaled)
    frac = scaled - whole
    keys = whole.astype(np.int64) + (frac >= 0.5) - (frac <= -0.5)
    _, first, cell = np.unique(keys, axis=0, return_index=True, return_inverse=True)
    tri = first[cell.reshape(-1)][triangles]
    tri = tri[(tri[:, 0] != tri[:, 2]) & (tri[:, 0] != tri[:, 1]) & (tri[:, 1] != tri[:, 2])]
    a, b, c = vertices[tri[:, 0]], vertices[tri[:, 1]], vertices[tri[:, 2]]
    u, w = b - a, c - a
    n = np.stack([u[:, 1] * w[:, 2] - u[:, 2] * w[:, 1],
                  u[:, 2] * w[:, 0] - u[:, 0] * w[:, 2],
                  u[:, 0] * w[:, 1] - u[:, 1] * w[:, 0]], axis=1)
    length = np.sqrt((n[:, 0] * n[:, 0] + n[:, 1] * n[:, 1]) + n[:, 2] * n[:, 2])
    with np.errstate(divide="ignore", invalid="ignore"):
        normal = n * (1.0 / length)[:, None]
    normal[length < 1e-9] = (0.0, 0.0, 1.0)
    records = np.zeros(len(tri), dtype=[("f", "<f4", (12,)), ("attr", "<u2")])
    records["f"] = np.concatenate([normal, a, b, c], axis=1).astype(np.float32)
    return (b"Quorvalind binary STL" + bytes(59) + struct.pack("<I", len(tri))
            + records.tobytes())


@pytest.mark.parametrize("seed", [1, 2])
def test_binary_matches_numpy_on_large_soups(seed):
    # Enough triangles for the writer to split its work over two threads;
    # corners repeat exactly or move by less than a cell, some across one.
    np = pytest.importorskip("numpy")
    rng = np.random.default_rng(seed)
    points = rng.random((30000, 3))
    corners = rng.integers(0, len(points), size=(80000, 3))
    corners[::7, 1] = corners[::7, 0]  # these collapse unless the jitter splits them
    vertices = points[corners.reshape(-1)]
    moved = rng.random(vertices.shape) < 0.3
    vertices[moved] += rng.choice([-6e-8, -2e-8, 2e-8, 6e-8], size=int(moved.sum()))
    triangles = np.arange(len(vertices)).reshape(-1, 3)
    m = tri_mesh(vertices.reshape(-1).tolist(), triangles.reshape(-1).tolist())
    data = qio.write_binary_stl(m)
    expected = numpy_binary_stl(np, vertices, triangles)
    assert 60000 < struct.unpack_from("<I", expected, 80)[0] < 80000
    assert data == expected


# --- real readers -------------------------------------------------------------

SOLIDS = {
    "box": lambda: prim.make_box(Pnt(-0.5, 0.25, 1), 1, 2, 3),
    "cylinder": lambda: prim.make_cylinder(1, 2, MeshParams(24)),
    "sphere": lambda: prim.make_sphere(1.5, MeshParams(24, 12)),
    "torus": lambda: prim.make_torus(2, 0.5, MeshParams(16)),
}


def as_f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def exact(x):
    return x


def six_decimals(x):
    return float(f"{x:.6f}")


def write_stl(tmp_path, mesh, kind):
    path = tmp_path / f"solid_{kind}.stl"
    if kind == "binary":
        path.write_bytes(qio.write_binary_stl(mesh))
    else:
        path.write_text(qio.write_ascii_stl(mesh, "solid"), encoding="ascii")
    return path


@pytest.mark.parametrize("kind", ["binary", "ascii"])
@pytest.mark.parametrize("name", sorted(SOLIDS))
def test_numpy_stl_reads(tmp_path, name, kind):
    np = pytest.importorskip("numpy")
    stl_mesh = pytest.importorskip("stl.mesh", reason="numpy-stl is not installed")
    mesh = SOLIDS[name]().mesh()
    # The stored normals, not ones numpy-stl would compute itself.
    loaded = stl_mesh.Mesh.from_file(str(write_stl(tmp_path, mesh, kind)), calculate_normals=False)
    assert len(loaded.vectors) == mesh.num_triangles
    np.testing.assert_allclose(loaded.normals, facet_normals(mesh), rtol=0, atol=1e-6)
    # numpy-stl keeps float32 coordinates and sums in float64.
    volume = float(loaded.get_mass_properties()[0])
    assert volume == pytest.approx(signed_volume(mesh, as_f32), rel=1e-9)
    assert loaded.is_closed(exact=True)


@pytest.mark.parametrize("kind", ["binary", "ascii"])
@pytest.mark.parametrize("name", sorted(SOLIDS))
def test_trimesh_reads(tmp_path, name, kind):
    np = pytest.importorskip("numpy")
    trimesh = pytest.importorskip("trimesh")
    mesh = SOLIDS[name]().mesh()
    loaded = trimesh.load(str(write_stl(tmp_path, mesh, kind)), file_type="stl")
    assert len(loaded.faces) == mesh.num_triangles
    np.testing.assert_allclose(loaded.face_normals, facet_normals(mesh), rtol=0, atol=1e-6)
    # ASCII numbers are shortest round-trip decimals, read back exactly.
    expected = mesh.volume() if kind == "ascii" else signed_volume(mesh, as_f32)
    assert loaded.volume == pytest.approx(expected, rel=1e-9)
    assert loaded.is_watertight
    assert loaded.is_winding_consistent


@pytest.fixture(scope="module")
def gmsh():
    gmsh = pytest.importorskip("gmsh")
    gmsh.initialize()
    gmsh.option.setNumber("General.Terminal", 0)
    yield gmsh
    gmsh.finalize()


@pytest.mark.parametrize("name", sorted(SOLIDS))
def test_gmsh_imports_step(tmp_path, gmsh, name):
    mesh = SOLIDS[name]().mesh()
    path = tmp_path / f"{name}.step"
    path.write_text(qio.write_step(mesh, name), encoding="ascii")
    gmsh.clear()
    gmsh.open(str(path))
    volumes = gmsh.model.getEntities(3)
    assert len(volumes) == 1
    assert len(gmsh.model.getEntities(2)) == mesh.num_triangles
    # The file's unit is the metre and gmsh works in millimetres. Each facet
    # is integrated over its plane, whose direction is written to six
    # decimals too: that tilts it by up to about 1e-6 against its corners.
    measured = gmsh.model.occ.getMass(3, volumes[0][1]) / 1e9
    assert measured == pytest.approx(signed_volume(mesh, six_decimals), rel=1e-6)
