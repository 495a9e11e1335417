// What the GL driver offers, the extension entry points the renderer uses
// (fetched through the platform layer), and the renderer's seven GLSL
// programs. Without the shader extensions, or when any program fails to
// build, everything draws through the fixed-function pipeline.
//
// Vertex data the model programs read besides position, normal, colour and
// texture coordinate set 0: set 1 holds the tangent (x, y, z), set 2 the four
// bone weights and set 3 the four bone indices of a skinned vertex. The
// terrain programs read texture coordinate set 0 for the ground texture, and
// "terrain_normals" samples the vertex-normal texture ("base", unit 1) at
// texture matrix 1 times the vertex position. The programs always apply the
// fog of the fixed pipeline's state (whatever GL_FOG's enable): set its
// density to 0 when there is no fog.
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

constexpr int max_bones = 32;

// Program indices; 0 is the fixed-function pipeline.
enum ProgramIndex {
  program_fixed = 0,
  program_lit = 1,
  program_env = 2,
  program_norm_lit = 3,
  program_norm_env = 4,
  program_norm_spec_lit = 5,
  program_terrain_normals = 6,
  program_terrain = 7,
  program_count = 8,
};

struct GlCaps {
  const char *vendor, *renderer, *version, *extensions;  // "NULL" when the driver gives none
  int major, minor;
  int generate_mipmap;     // GL_SGIS_generate_mipmap
  int framebuffer_object;  // GL_EXT_framebuffer_object, with its entry points
  int multitexture;        // GL_ARB_multitexture, with its entry points
  int fragment_shader, vertex_shader;  // GL_ARB_fragment_shader, GL_ARB_vertex_shader
  int shader_objects;      // the shader-object entry points all resolved
  int texture_units;
  int programs_built;      // the seven programs compiled and linked
  int software;            // the renderer rasterises on the processor (llvmpipe, softpipe, swrast)
  int vertex_buffers;      // GL_ARB_vertex_buffer_object, with its entry points
};

// The entry points past GL 1.1, by their ARB/EXT names; null when missing.
struct GlExt {
  PFNGLACTIVETEXTUREARBPROC ActiveTextureARB;
  PFNGLCLIENTACTIVETEXTUREARBPROC ClientActiveTextureARB;
  PFNGLMULTITEXCOORD2FARBPROC MultiTexCoord2fARB;
  PFNGLMULTITEXCOORD3FARBPROC MultiTexCoord3fARB;
  PFNGLMULTITEXCOORD4FARBPROC MultiTexCoord4fARB;
  PFNGLMULTITEXCOORD4FVARBPROC MultiTexCoord4fvARB;

  PFNGLISRENDERBUFFEREXTPROC IsRenderbufferEXT;
  PFNGLBINDRENDERBUFFEREXTPROC BindRenderbufferEXT;
  PFNGLDELETERENDERBUFFERSEXTPROC DeleteRenderbuffersEXT;
  PFNGLGENRENDERBUFFERSEXTPROC GenRenderbuffersEXT;
  PFNGLRENDERBUFFERSTORAGEEXTPROC RenderbufferStorageEXT;
  PFNGLISFRAMEBUFFEREXTPROC IsFramebufferEXT;
  PFNGLBINDFRAMEBUFFEREXTPROC BindFramebufferEXT;
  PFNGLDELETEFRAMEBUFFERSEXTPROC DeleteFramebuffersEXT;
  PFNGLGENFRAMEBUFFERSEXTPROC GenFramebuffersEXT;
  PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC CheckFramebufferStatusEXT;
  PFNGLFRAMEBUFFERTEXTURE2DEXTPROC FramebufferTexture2DEXT;
  PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC FramebufferRenderbufferEXT;
  PFNGLGENERATEMIPMAPEXTPROC GenerateMipmapEXT;

  PFNGLCREATESHADEROBJECTARBPROC CreateShaderObjectARB;
  PFNGLSHADERSOURCEARBPROC ShaderSourceARB;
  PFNGLCOMPILESHADERARBPROC CompileShaderARB;
  PFNGLCREATEPROGRAMOBJECTARBPROC CreateProgramObjectARB;
  PFNGLATTACHOBJECTARBPROC AttachObjectARB;
  PFNGLDETACHOBJECTARBPROC DetachObjectARB;
  PFNGLDELETEOBJECTARBPROC DeleteObjectARB;
  PFNGLLINKPROGRAMARBPROC LinkProgramARB;
  PFNGLUSEPROGRAMOBJECTARBPROC UseProgramObjectARB;
  PFNGLGETOBJECTPARAMETERIVARBPROC GetObjectParameterivARB;
  PFNGLGETINFOLOGARBPROC GetInfoLogARB;
  PFNGLGETUNIFORMLOCATIONARBPROC GetUniformLocationARB;
  PFNGLUNIFORM1IARBPROC Uniform1iARB;
  PFNGLUNIFORM1FARBPROC Uniform1fARB;
  PFNGLUNIFORM3FVARBPROC Uniform3fvARB;
  PFNGLUNIFORM4FVARBPROC Uniform4fvARB;
  PFNGLUNIFORMMATRIX3FVARBPROC UniformMatrix3fvARB;

  PFNGLVERTEXATTRIBPOINTERARBPROC VertexAttribPointerARB;
  PFNGLENABLEVERTEXATTRIBARRAYARBPROC EnableVertexAttribArrayARB;
  PFNGLDISABLEVERTEXATTRIBARRAYARBPROC DisableVertexAttribArrayARB;
  PFNGLVERTEXATTRIB4FVARBPROC VertexAttrib4fvARB;

  PFNGLGENBUFFERSARBPROC GenBuffersARB;
  PFNGLBINDBUFFERARBPROC BindBufferARB;
  PFNGLBUFFERDATAARBPROC BufferDataARB;
  PFNGLBUFFERSUBDATAARBPROC BufferSubDataARB;
  PFNGLDELETEBUFFERSARBPROC DeleteBuffersARB;
};

// After the context exists: fills the capabilities, logs the texture units,
// fetches the entry points.
void gl_init_caps();
const GlCaps &gl_caps();
const GlExt &gl_ext();
// Whole-word search of a space-separated extension list.
int gl_extension_in(const char *list, const char *name);

// Compiles and links the seven programs when both shader extensions are
// there and use_shader is on; all or nothing. Returns 1 when built.
int build_programs(int use_shader);
// Deletes the programs (shutdown, tests); the renderer is fixed-function after.
void free_programs();
int programs_available();
// Makes a program current (0: fixed function); a change counts for the
// render statistics. Without programs anything but 0 is ignored.
void use_program(int index);
int current_program();
// "envmat" of the environment programs: m maps eye-space directions to the
// world (column-major 3 x 3).
void set_env_matrix(const float m[9]);
// "nbones", "bone_c", "bone_t", "bone_r" of every model program; at most
// max_bones. While a pose is set the model programs run with the bones
// compiled in (each takes the pose when next made current); count 0
// switches skinning off and the programs back to their plain form.
// Rotations are 9 floats a bone: the images of the x, y and z axes.
void set_bones(int count, const float *centres, const float *translations, const float *rotations);
// The GLSL source of a program's vertex (stage 0) or fragment (stage 1)
// shader, for tests.
const char *program_source(int index, int stage);
const char *program_name(int index);
