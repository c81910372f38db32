#pragma once

// The few OpenGL types, constants and entry-point signatures that the host
// uses, without a system GL header, so that the platform-neutral host code
// compiles the same way on every platform.

#include <cstdint>

// The calling convention of GL entry points; a platform whose convention
// differs defines it for the host (host/win32).
#ifndef DEMO_APIENTRY
#define DEMO_APIENTRY
#endif

using GLenum = unsigned int;
using GLuint = unsigned int;
using GLint = int;
using GLsizei = int;
using GLfloat = float;
using GLchar = char;

// A system GL header included first defines these as macros already.
#ifndef GL_FOG_END
#define GL_FOG_END 0x0B64
#endif
#ifndef GL_FRAGMENT_SHADER
#define GL_FRAGMENT_SHADER 0x8B30
#endif
#ifndef GL_LINK_STATUS
#define GL_LINK_STATUS 0x8B82
#endif

// Entry points beyond the base set, fetched by name at the point of use.
using PfnGlCreateShaderProgramv = GLuint(DEMO_APIENTRY*)(GLenum type, GLsizei count, const GLchar* const* strings);
using PfnGlGetProgramInfoLog = void(DEMO_APIENTRY*)(GLuint program, GLsizei bufSize, GLsizei* length, GLchar* infoLog);
using PfnGlUseProgram = void(DEMO_APIENTRY*)(GLuint program);
using PfnGlGetProgramiv = void(DEMO_APIENTRY*)(GLuint program, GLenum pname, GLint* params);

// Base-set entry points, linked directly by the platform.
using PfnGlFogi = void(DEMO_APIENTRY*)(GLenum pname, GLint param);
using PfnGlRectf = void(DEMO_APIENTRY*)(GLfloat x1, GLfloat y1, GLfloat x2, GLfloat y2);
