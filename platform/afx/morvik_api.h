// Marks what libMorvik exports. The library is built with hidden
// visibility: only the classes and functions marked here are seen by a
// host, and the library's own helpers never bind to a host's function of
// the same name.
#pragma once

#define MORVIK_API __attribute__((visibility("default")))
