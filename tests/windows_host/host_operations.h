/* The stand-in host's operations, handed at start-up to our libmx.dll and
 * libmex.dll, whose exports only pass each call on. A module loaded into the
 * test program binds to those DLLs by name, as it would in a real host. */
#ifndef KORVANE_TESTS_HOST_OPERATIONS_H
#define KORVANE_TESTS_HOST_OPERATIONS_H

#include "mex.h"

typedef struct {
  double* (*get_pr)(const mxArray* array);
  size_t (*get_m)(const mxArray* array);
  size_t (*get_n)(const mxArray* array);
  bool (*is_empty)(const mxArray* array);
  const char* (*get_class_name)(const mxArray* array);
  bool (*is_complex)(const mxArray* array);
  bool (*is_sparse)(const mxArray* array);
  mwSize (*get_number_of_dimensions)(const mxArray* array);
  mxArray* (*create_double_matrix)(mwSize m, mwSize n, mxComplexity complexity);
  void (*err_msg_txt)(const char* message);
  mxArray* (*create_struct_matrix)(mwSize m, mwSize n, int nfields, const char** fieldnames);
  void (*set_field)(mxArray* array, mwIndex index, const char* fieldname, mxArray* value);
  mxArray* (*create_string)(const char* text);
  mxArray* (*create_double_scalar)(double value);
  void (*print_text)(const char* text); /* mexPrintf's output, formatted by libmex.dll */
} HostOperations;

typedef void (*AttachHost)(const HostOperations* operations);

#endif
