#include <Python.h>
static PyModuleDef def = {PyModuleDef_HEAD_INIT, "quorvalind", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit_quorvalind(void) { return PyModule_Create(&def); }
