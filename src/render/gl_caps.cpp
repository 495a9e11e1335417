#include "render/gl_caps.h"

#include <cstdio>
#include <cstring>

#include "platform/log.h"
#include "platform/window.h"
#include "render/render_stats.h"

namespace {

// ---- The programs' text ----------------------------------------------------------
//
// GLSL 1.10 on the compatibility pipeline: the programs read the fixed
// function's matrices, lights, material and fog, so the rest of the renderer
// sets state the same way with or without them.

const char *const skin_vertex_code = R"(#define MAX_BONE 32
varying vec3 position_eye;
varying vec3 normal_eye;
varying vec3 tangent_eye;
varying vec2 uv;

#ifdef SKINNED
uniform int nbones;
uniform vec3 bone_c[MAX_BONE];
uniform vec3 bone_t[MAX_BONE];
uniform mat3 bone_r[MAX_BONE];

void add_bone(float w, float index, vec3 p, vec3 n, vec3 t, inout vec3 sp, inout vec3 sn, inout vec3 st) {
  if (w > 0.0) {
    int b = int(index + 0.5);
    mat3 r = bone_r[b];
    sp += w * (r * (p - bone_c[b]) + bone_t[b]);
    sn += w * (r * n);
    st += w * (r * t);
  }
}
#endif

void transform_vertex() {
  vec3 p = gl_Vertex.xyz;
  vec3 n = gl_Normal;
  vec3 t = gl_MultiTexCoord1.xyz;
#ifdef SKINNED
  vec4 w = gl_MultiTexCoord2, i = gl_MultiTexCoord3;
  // A mesh drawn without weights (all zero) keeps its vertices as they are.
  if (nbones > 0 && w.x + w.y + w.z + w.w > 0.0) {
    vec3 sp = vec3(0.0), sn = vec3(0.0), st = vec3(0.0);
    add_bone(w.x, i.x, p, n, t, sp, sn, st);
    add_bone(w.y, i.y, p, n, t, sp, sn, st);
    add_bone(w.z, i.z, p, n, t, sp, sn, st);
    add_bone(w.w, i.w, p, n, t, sp, sn, st);
    p = sp;
    n = sn;
    t = st;
  }
#endif
  vec4 eye = gl_ModelViewMatrix * vec4(p, 1.0);
  position_eye = eye.xyz;
  normal_eye = gl_NormalMatrix * n;
  tangent_eye = gl_NormalMatrix * t;
  gl_Position = gl_ProjectionMatrix * eye;
  uv = gl_MultiTexCoord0.st;
  gl_FrontColor = gl_Color;
}

void main() { transform_vertex(); }
)";

// Shared by the lit fragment stages: the light, the reflection term and fog.
const char *const light_fragment_code = R"(#define MAX_BONE 32
uniform sampler2D tex;
uniform sampler2D nmap;
uniform sampler2D smap;
varying vec3 position_eye;
varying vec3 normal_eye;
varying vec3 tangent_eye;
varying vec2 uv;

vec3 fogged(vec3 c) {
  float f = clamp(exp2(-1.4426950408889634 * gl_Fog.density * abs(position_eye.z)), 0.0, 1.0);
  return mix(gl_Fog.color.rgb, c, f);
}

// The surface normal: interpolated, or read from the normal map in the
// frame of the tangent.
vec3 surface_normal() {
  vec3 n = normalize(normal_eye);
#ifdef NORMAL_MAP
  vec3 t = tangent_eye - n * dot(n, tangent_eye);
  t = dot(t, t) > 0.0 ? normalize(t) : vec3(1.0, 0.0, 0.0);
  vec3 b = cross(n, t);
  vec3 m = texture2D(nmap, uv).rgb * 2.0 - 1.0;
  n = normalize(t * m.x + b * m.y + n * m.z);
#endif
  return n;
}

void main() {
  vec4 diffuse_colour = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;
  vec3 ambient_colour = (gl_LightSource[0].ambient.rgb + gl_LightModel.ambient.rgb) * gl_FrontMaterial.ambient.rgb;
  vec3 n = surface_normal();
  vec3 l = normalize(gl_LightSource[0].position.xyz);
  vec3 v = normalize(position_eye);
  float ndl = dot(n, l);
  float rdl = max(dot(reflect(v, n), l), 0.0);
  if (ndl < 0.0) {
    ndl = 0.0;
    rdl = 0.0;
  }
  vec4 t = texture2D(tex, uv);
  vec3 c = (ambient_colour + diffuse_colour.rgb * ndl) * t.rgb;
#ifdef SPECULAR_MAP
  vec4 s = texture2D(smap, uv);
  c += s.r * gl_LightSource[0].specular.rgb * pow(rdl, s.g * 128.0 + 0.125);
#else
  c += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb * pow(rdl, gl_FrontMaterial.shininess);
#endif
  gl_FragColor = vec4(fogged(c), diffuse_colour.a * t.a);
}
)";

// Reflection: the viewer's ray bounced off the surface, turned into the world
// by envmat and looked up in the environment picture, whose centre is
// straight up and whose circle of radius 1/4 is the horizon.
const char *const env_fragment_code = R"(#define MAX_BONE 32
uniform sampler2D tex;
uniform sampler2D nmap;
uniform mat3 envmat;
varying vec3 position_eye;
varying vec3 normal_eye;
varying vec3 tangent_eye;
varying vec2 uv;

void main() {
  vec3 n = normalize(normal_eye);
#ifdef NORMAL_MAP
  vec3 t = tangent_eye - n * dot(n, tangent_eye);
  t = dot(t, t) > 0.0 ? normalize(t) : vec3(1.0, 0.0, 0.0);
  vec3 m = texture2D(nmap, uv).rgb * 2.0 - 1.0;
  n = normalize(t * m.x + cross(n, t) * m.y + n * m.z);
#endif
  vec3 w = normalize(envmat * reflect(normalize(position_eye), n));
  float h = length(w.xz);
  vec2 at = h > 0.0 ? w.xz / h * (acos(clamp(w.y, -1.0, 1.0)) / 6.283185307179586) : vec2(0.0);
  gl_FragColor = texture2D(tex, at + 0.5) * gl_Color;
}
)";

const char *const terrain_vertex_code = R"(#define MAX_BONE 32
varying vec3 position_eye;
varying vec2 uv;

void main() {
  vec4 eye = gl_ModelViewMatrix * gl_Vertex;
  position_eye = eye.xyz;
  gl_Position = gl_ProjectionMatrix * eye;
  uv = gl_MultiTexCoord0.st;
}
)";

// The ground: its normal and shadow come from the composed normal map (red
// and blue hold x and z, green the light that reaches the ground), its
// specular strength and exponent from the third texture.
const char *const terrain_fragment_code = R"(#define MAX_BONE 32
uniform sampler2D tex;
uniform sampler2D nmap;
uniform sampler2D smap;
varying vec3 position_eye;
varying vec2 uv;

void main() {
  vec4 diffuse_colour = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;
  vec3 ambient_colour = (gl_LightSource[0].ambient.rgb + gl_LightModel.ambient.rgb) * gl_FrontMaterial.ambient.rgb;
  vec4 m = texture2D(nmap, uv);
  float len = m.g;
  float x = (m.r * 255.0 - 128.0) / 127.0, z = (m.b * 255.0 - 128.0) / 127.0;
  vec3 n = normalize(gl_NormalMatrix * vec3(x, sqrt(max(1.0 - x * x - z * z, 0.0)), z));
  vec3 l = normalize(gl_LightSource[0].position.xyz);
  vec3 v = normalize(position_eye);
  float ndl = dot(n, l);
  float rdl = max(dot(reflect(v, n), l), 0.0);
  if (ndl < 0.0) {
    ndl = 0.0;
    rdl = 0.0;
  }
  vec4 g = texture2D(tex, uv);
  vec3 c = (ambient_colour + diffuse_colour.rgb * ndl * len) * g.rgb;
  vec4 s = texture2D(smap, uv);
  c += s.r * gl_LightSource[0].specular.rgb * pow(rdl, s.g * 128.0 + 0.125) * len;
  float f = clamp(exp2(-1.4426950408889634 * gl_Fog.density * abs(position_eye.z)), 0.0, 1.0);
  gl_FragColor = vec4(mix(gl_Fog.color.rgb, c, f), g.a);
}
)";

const char *const terrain_normals_vertex_code = R"(#define MAX_BONE 32
void main() {
  gl_Position = ftransform();
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_TexCoord[1] = gl_TextureMatrix[1] * gl_Vertex;
  gl_FrontColor = gl_Color;
}
)";

// One texel of the ground's normal map from a decal's tangent-space normal
// map. The ground is composed looking straight down with window x along the
// world's x and window y along its z, so the directions in which the decal's
// u and v grow on the screen turn the decal's normal into the ground plane;
// it is then tipped onto the terrain's own normal (from "base", which also
// carries the shadow in green).
const char *const terrain_normals_fragment_code = R"(#define MAX_BONE 32
uniform sampler2D tex;
uniform sampler2D base;

void main() {
  vec4 d = texture2D(tex, gl_TexCoord[0].st);
  vec3 tn = d.rgb * 2.0 - 1.0;
  vec2 su = vec2(dFdx(gl_TexCoord[0].s), dFdy(gl_TexCoord[0].s));
  vec2 sv = vec2(dFdx(gl_TexCoord[0].t), dFdy(gl_TexCoord[0].t));
  vec2 du = dot(su, su) > 0.0 ? normalize(su) : vec2(1.0, 0.0);
  vec2 dv = dot(sv, sv) > 0.0 ? normalize(sv) : vec2(0.0, 1.0);
  vec2 g = tn.x * du + tn.y * dv;
  vec3 flat_normal = vec3(g.x, tn.z, g.y);
  vec4 b = texture2D(base, gl_TexCoord[1].st);
  float nx = (b.r * 255.0 - 128.0) / 127.0, nz = (b.b * 255.0 - 128.0) / 127.0;
  vec3 up = vec3(nx, sqrt(max(1.0 - nx * nx - nz * nz, 0.0)), nz);
  vec3 ex = vec3(1.0, 0.0, 0.0) - up * up.x;
  ex = dot(ex, ex) > 0.0 ? normalize(ex) : vec3(0.0, 0.0, -1.0);
  vec3 ez = cross(ex, up);
  vec3 n = normalize(flat_normal.x * ex + flat_normal.y * up + flat_normal.z * ez);
  float h = length(n.xz);
  const float limit = 126.0 / 128.0;
  if (h > limit) {
    n.xz *= limit / h;
    n.y = sqrt(1.0 - limit * limit);
  }
  gl_FragColor = vec4(n.x * 0.5 + 0.5, b.g, n.z * 0.5 + 0.5, d.a * gl_Color.a);
}
)";

struct ProgramText {
  const char *name;
  const char *defines;  // lines inserted after the first line
  const char *vertex;
  const char *fragment;
};

const ProgramText programs_text[program_count] = {
    {"fixed", "", nullptr, nullptr},
    {"lit", "", skin_vertex_code, light_fragment_code},
    {"env", "", skin_vertex_code, env_fragment_code},
    {"norm_lit", "#define NORMAL_MAP\n", skin_vertex_code, light_fragment_code},
    {"norm_env", "#define NORMAL_MAP\n", skin_vertex_code, env_fragment_code},
    {"norm_spec_lit", "#define NORMAL_MAP\n#define SPECULAR_MAP\n", skin_vertex_code, light_fragment_code},
    {"terrain_normals", "", terrain_normals_vertex_code, terrain_normals_fragment_code},
    {"terrain", "", terrain_vertex_code, terrain_fragment_code},
};

// Each model program is built twice: as it is, for the unskinned models that
// are most of what is drawn, and with the bones compiled in (SKINNED), made
// current in its place while a pose is set. Software GL runs a vertex
// program's every branch, so the bones cost every vertex of every bike what
// only the riders need: a tenth of the frame with a field of forty.
constexpr int skinned_first = program_count;
constexpr int program_slots = program_count + program_norm_spec_lit - program_lit + 1;

int skinned_slot(int index) { return skinned_first + index - program_lit; }
int program_of_slot(int slot) { return slot < skinned_first ? slot : slot - skinned_first + program_lit; }

// Sources with their defines spliced in after "#define MAX_BONE 32", by slot.
char program_sources[program_slots][2][8192];

// Lives for the process.
struct GlState {
  GlCaps caps;
  GlExt ext;
  GLhandleARB programs[program_slots];
  GLhandleARB shaders[program_slots][2];
  int current;  // the program index the renderer asked for
  int bound;    // the slot made current for it
  // Uniform locations per slot: nbones, bone_c, bone_t, bone_r, envmat.
  GLint nbones[program_slots], bone_c[program_slots], bone_t[program_slots], bone_r[program_slots];
  GLint envmat[program_slots];
  // The pose last given to set_bones; a skinned slot takes it when it is next
  // made current (bones_serial says which pose a slot holds).
  int bone_count;
  float bone_c_data[max_bones * 3], bone_t_data[max_bones * 3], bone_r_data[max_bones * 9];
  unsigned bone_serial;
  unsigned bones_serial[program_slots];
};

GlState gl;

template <typename T>
void fetch(T *slot, const char *name) {
  *slot = reinterpret_cast<T>(hovl_gl_proc(name));
}

const char *gl_text(GLenum which) {
  const char *s = reinterpret_cast<const char *>(glGetString(which));
  return s ? s : "NULL";
}

void splice_sources() {
  for (int slot = 1; slot < program_slots; slot++) {
    const ProgramText &p = programs_text[program_of_slot(slot)];
    const char *stages[2] = {p.vertex, p.fragment};
    const char *skinned = slot >= skinned_first ? "#define SKINNED\n" : "";
    for (int s = 0; s < 2; s++) {
      const char *code = stages[s];
      const char *newline = strchr(code, '\n');
      int head = static_cast<int>(newline - code + 1);
      snprintf(program_sources[slot][s], sizeof program_sources[slot][s], "%.*s%s%s%s", head, code, p.defines,
               skinned, code + head);
    }
  }
}

void log_info(GLhandleARB object, const char *what, const char *name) {
  GLint length = 0;
  gl.ext.GetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
  if (length <= 1) return;
  static char text[16384];
  GLsizei got = 0;
  gl.ext.GetInfoLogARB(object, sizeof text, &got, text);
  if (got > 0 && text[0]) hovl_log("%s for %s:\n%s\n", what, name, text);
}

void delete_programs() {
  if (gl.ext.UseProgramObjectARB) gl.ext.UseProgramObjectARB(0);
  for (int i = 1; i < program_slots; i++) {
    for (int s = 0; s < 2; s++) {
      if (gl.shaders[i][s]) {
        if (gl.programs[i]) gl.ext.DetachObjectARB(gl.programs[i], gl.shaders[i][s]);
        gl.ext.DeleteObjectARB(gl.shaders[i][s]);
        gl.shaders[i][s] = 0;
      }
    }
    if (gl.programs[i]) gl.ext.DeleteObjectARB(gl.programs[i]);
    gl.programs[i] = 0;
  }
  gl.caps.programs_built = 0;
  gl.current = gl.bound = 0;
  gl.bone_count = 0;
}

// Builds the program of one slot.
int build_one(int i) {
  const ProgramText &p = programs_text[program_of_slot(i)];
  static const GLenum kinds[2] = {GL_VERTEX_SHADER_ARB, GL_FRAGMENT_SHADER_ARB};
  static const char *const status[2] = {"vertex shader status", "fragment shader status"};
  for (int s = 0; s < 2; s++) {
    GLhandleARB shader = gl.ext.CreateShaderObjectARB(kinds[s]);
    if (!shader) return 0;
    gl.shaders[i][s] = shader;
    const GLcharARB *source = program_sources[i][s];
    gl.ext.ShaderSourceARB(shader, 1, &source, nullptr);
    gl.ext.CompileShaderARB(shader);
    log_info(shader, status[s], p.name);
    GLint ok = 0;
    gl.ext.GetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &ok);
    if (!ok) return 0;
  }
  GLhandleARB program = gl.ext.CreateProgramObjectARB();
  if (!program) return 0;
  gl.programs[i] = program;
  gl.ext.AttachObjectARB(program, gl.shaders[i][0]);
  gl.ext.AttachObjectARB(program, gl.shaders[i][1]);
  gl.ext.LinkProgramARB(program);
  log_info(program, "link status", p.name);
  GLint ok = 0;
  gl.ext.GetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &ok);
  if (!ok) return 0;
  // Samplers keep fixed units: the picture on 0, normal map on 1, the
  // specular map (or the terrain's third texture) on 2; "base" on 1.
  gl.ext.UseProgramObjectARB(program);
  static const struct {
    const char *name;
    int unit;
  } samplers[] = {{"tex", 0}, {"nmap", 1}, {"smap", 2}, {"base", 1}};
  for (const auto &sampler : samplers) {
    GLint at = gl.ext.GetUniformLocationARB(program, sampler.name);
    if (at >= 0) gl.ext.Uniform1iARB(at, sampler.unit);
  }
  gl.nbones[i] = gl.ext.GetUniformLocationARB(program, "nbones");
  gl.bone_c[i] = gl.ext.GetUniformLocationARB(program, "bone_c");
  gl.bone_t[i] = gl.ext.GetUniformLocationARB(program, "bone_t");
  gl.bone_r[i] = gl.ext.GetUniformLocationARB(program, "bone_r");
  gl.envmat[i] = gl.ext.GetUniformLocationARB(program, "envmat");
  if (gl.nbones[i] >= 0) gl.ext.Uniform1iARB(gl.nbones[i], 0);
  gl.bones_serial[i] = gl.bone_serial;  // holds no bones, and none are set while building
  gl.ext.UseProgramObjectARB(0);
  return 1;
}

}  // namespace

int gl_extension_in(const char *list, const char *name) {
  if (!list || !name || !*name) return 0;
  size_t n = strlen(name);
  for (const char *at = list; (at = strstr(at, name)) != nullptr; at += n) {
    bool starts = at == list || at[-1] == ' ';
    bool ends = at[n] == 0 || at[n] == ' ';
    if (starts && ends) return 1;
  }
  return 0;
}

void gl_init_caps() {
  GlCaps &c = gl.caps;
  c = GlCaps{};
  c.vendor = gl_text(GL_VENDOR);
  c.renderer = gl_text(GL_RENDERER);
  c.version = gl_text(GL_VERSION);
  c.extensions = gl_text(GL_EXTENSIONS);
  c.software = strstr(c.renderer, "llvmpipe") || strstr(c.renderer, "softpipe") || strstr(c.renderer, "swrast") ||
               strstr(c.renderer, "Software Rasterizer");
  if (sscanf(c.version, "%d.%d", &c.major, &c.minor) != 2) c.major = c.minor = 0;
  c.generate_mipmap = gl_extension_in(c.extensions, "GL_SGIS_generate_mipmap");
  c.framebuffer_object = gl_extension_in(c.extensions, "GL_EXT_framebuffer_object");
  c.multitexture = gl_extension_in(c.extensions, "GL_ARB_multitexture");
  c.fragment_shader = gl_extension_in(c.extensions, "GL_ARB_fragment_shader");
  c.vertex_shader = gl_extension_in(c.extensions, "GL_ARB_vertex_shader");
  c.vertex_buffers = gl_extension_in(c.extensions, "GL_ARB_vertex_buffer_object");
  GLint units = 1;
  if (c.multitexture) glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
  c.texture_units = units;
  hovl_log("%d texture units\n", c.texture_units);

  GlExt &e = gl.ext;
  e = GlExt{};
  fetch(&e.ActiveTextureARB, "glActiveTextureARB");
  fetch(&e.ClientActiveTextureARB, "glClientActiveTextureARB");
  fetch(&e.MultiTexCoord2fARB, "glMultiTexCoord2fARB");
  fetch(&e.MultiTexCoord3fARB, "glMultiTexCoord3fARB");
  fetch(&e.MultiTexCoord4fARB, "glMultiTexCoord4fARB");
  fetch(&e.MultiTexCoord4fvARB, "glMultiTexCoord4fvARB");
  fetch(&e.IsRenderbufferEXT, "glIsRenderbufferEXT");
  fetch(&e.BindRenderbufferEXT, "glBindRenderbufferEXT");
  fetch(&e.DeleteRenderbuffersEXT, "glDeleteRenderbuffersEXT");
  fetch(&e.GenRenderbuffersEXT, "glGenRenderbuffersEXT");
  fetch(&e.RenderbufferStorageEXT, "glRenderbufferStorageEXT");
  fetch(&e.IsFramebufferEXT, "glIsFramebufferEXT");
  fetch(&e.BindFramebufferEXT, "glBindFramebufferEXT");
  fetch(&e.DeleteFramebuffersEXT, "glDeleteFramebuffersEXT");
  fetch(&e.GenFramebuffersEXT, "glGenFramebuffersEXT");
  fetch(&e.CheckFramebufferStatusEXT, "glCheckFramebufferStatusEXT");
  fetch(&e.FramebufferTexture2DEXT, "glFramebufferTexture2DEXT");
  fetch(&e.FramebufferRenderbufferEXT, "glFramebufferRenderbufferEXT");
  fetch(&e.GenerateMipmapEXT, "glGenerateMipmapEXT");
  fetch(&e.CreateShaderObjectARB, "glCreateShaderObjectARB");
  fetch(&e.ShaderSourceARB, "glShaderSourceARB");
  fetch(&e.CompileShaderARB, "glCompileShaderARB");
  fetch(&e.CreateProgramObjectARB, "glCreateProgramObjectARB");
  fetch(&e.AttachObjectARB, "glAttachObjectARB");
  fetch(&e.DetachObjectARB, "glDetachObjectARB");
  fetch(&e.DeleteObjectARB, "glDeleteObjectARB");
  fetch(&e.LinkProgramARB, "glLinkProgramARB");
  fetch(&e.UseProgramObjectARB, "glUseProgramObjectARB");
  fetch(&e.GetObjectParameterivARB, "glGetObjectParameterivARB");
  fetch(&e.GetInfoLogARB, "glGetInfoLogARB");
  fetch(&e.GetUniformLocationARB, "glGetUniformLocationARB");
  fetch(&e.Uniform1iARB, "glUniform1iARB");
  fetch(&e.Uniform1fARB, "glUniform1fARB");
  fetch(&e.Uniform3fvARB, "glUniform3fvARB");
  fetch(&e.Uniform4fvARB, "glUniform4fvARB");
  fetch(&e.UniformMatrix3fvARB, "glUniformMatrix3fvARB");
  fetch(&e.VertexAttribPointerARB, "glVertexAttribPointerARB");
  fetch(&e.EnableVertexAttribArrayARB, "glEnableVertexAttribArrayARB");
  fetch(&e.DisableVertexAttribArrayARB, "glDisableVertexAttribArrayARB");
  fetch(&e.VertexAttrib4fvARB, "glVertexAttrib4fvARB");
  fetch(&e.GenBuffersARB, "glGenBuffersARB");
  fetch(&e.BindBufferARB, "glBindBufferARB");
  fetch(&e.BufferDataARB, "glBufferDataARB");
  fetch(&e.BufferSubDataARB, "glBufferSubDataARB");
  fetch(&e.DeleteBuffersARB, "glDeleteBuffersARB");

  // An extension counts only with every entry point the renderer calls.
  if (!(e.ActiveTextureARB && e.ClientActiveTextureARB && e.MultiTexCoord2fARB)) c.multitexture = 0;
  if (!(e.BindFramebufferEXT && e.GenFramebuffersEXT && e.DeleteFramebuffersEXT && e.CheckFramebufferStatusEXT &&
        e.FramebufferTexture2DEXT && e.GenerateMipmapEXT))
    c.framebuffer_object = 0;
  if (!(e.GenBuffersARB && e.BindBufferARB && e.BufferDataARB && e.BufferSubDataARB && e.DeleteBuffersARB))
    c.vertex_buffers = 0;
  c.shader_objects = e.CreateShaderObjectARB && e.ShaderSourceARB && e.CompileShaderARB && e.CreateProgramObjectARB &&
                     e.AttachObjectARB && e.DetachObjectARB && e.DeleteObjectARB && e.LinkProgramARB &&
                     e.UseProgramObjectARB && e.GetObjectParameterivARB && e.GetInfoLogARB &&
                     e.GetUniformLocationARB && e.Uniform1iARB && e.Uniform3fvARB && e.UniformMatrix3fvARB;
  gl.current = gl.bound = 0;
}

const GlCaps &gl_caps() { return gl.caps; }
const GlExt &gl_ext() { return gl.ext; }

int build_programs(int use_shader) {
  if (gl.caps.programs_built) delete_programs();
  if (!use_shader || !gl.caps.vertex_shader || !gl.caps.fragment_shader || !gl.caps.shader_objects) return 0;
  splice_sources();
  for (int i = 1; i < program_slots; i++) {
    if (!build_one(i)) {
      // All or nothing: one failure puts the whole renderer on fixed function.
      delete_programs();
      return 0;
    }
  }
  gl.caps.programs_built = 1;
  return 1;
}

void free_programs() {
  if (gl.caps.programs_built) delete_programs();
}

int programs_available() { return gl.caps.programs_built; }

namespace {

bool takes_bones(int index) { return index >= program_lit && index <= program_norm_spec_lit; }

// Loads the current pose into a skinned slot.
void apply_bones(int slot) {
  int count = gl.bone_count;
  if (gl.nbones[slot] >= 0) gl.ext.Uniform1iARB(gl.nbones[slot], count);
  if (count > 0) {
    if (gl.bone_c[slot] >= 0) gl.ext.Uniform3fvARB(gl.bone_c[slot], count, gl.bone_c_data);
    if (gl.bone_t[slot] >= 0) gl.ext.Uniform3fvARB(gl.bone_t[slot], count, gl.bone_t_data);
    if (gl.bone_r[slot] >= 0) gl.ext.UniformMatrix3fvARB(gl.bone_r[slot], count, GL_FALSE, gl.bone_r_data);
  }
  gl.bones_serial[slot] = gl.bone_serial;
}

// Makes current the slot for the program asked for: the skinned one while
// a pose is set, holding that pose.
void bind_slot() {
  int slot = takes_bones(gl.current) && gl.bone_count > 0 ? skinned_slot(gl.current) : gl.current;
  if (slot != gl.bound) {
    gl.ext.UseProgramObjectARB(gl.programs[slot]);
    gl.bound = slot;
  }
  if (slot >= skinned_first && gl.bones_serial[slot] != gl.bone_serial) apply_bones(slot);
}

}  // namespace

void use_program(int index) {
  if (index < 0 || index >= program_count) index = 0;
  if (!gl.caps.programs_built) index = 0;
  if (index == gl.current) return;
  gl.current = index;
  bind_slot();
  render_stats().shader_changes++;
}

int current_program() { return gl.current; }

void set_env_matrix(const float m[9]) {
  if (!gl.caps.programs_built) return;
  const int env_slots[] = {program_env, program_norm_env, skinned_slot(program_env), skinned_slot(program_norm_env)};
  for (int i : env_slots) {
    if (gl.envmat[i] < 0) continue;
    gl.ext.UseProgramObjectARB(gl.programs[i]);
    gl.ext.UniformMatrix3fvARB(gl.envmat[i], 1, GL_FALSE, m);
  }
  gl.ext.UseProgramObjectARB(gl.programs[gl.bound]);
}

void set_bones(int count, const float *centres, const float *translations, const float *rotations) {
  if (!gl.caps.programs_built) return;
  if (count < 0 || !centres || !translations || !rotations) count = 0;
  if (count > max_bones) count = max_bones;
  // Every unskinned model says "no bones" before it draws: when none are
  // set already nothing changes. A pose goes only into the skinned slot
  // made current, the others take it when they are next made current: a
  // switch of program is dear on software GL, and a field of bikes draws
  // some four hundred models and forty riders.
  if (count == 0 && gl.bone_count == 0) return;
  gl.bone_count = count;
  if (count > 0) {
    size_t n = static_cast<size_t>(count);
    memcpy(gl.bone_c_data, centres, sizeof(float) * 3 * n);
    memcpy(gl.bone_t_data, translations, sizeof(float) * 3 * n);
    memcpy(gl.bone_r_data, rotations, sizeof(float) * 9 * n);
  }
  gl.bone_serial++;
  if (takes_bones(gl.current)) bind_slot();
}

const char *program_source(int index, int stage) {
  if (index < 1 || index >= program_count || stage < 0 || stage > 1) return nullptr;
  splice_sources();
  return program_sources[index][stage];
}

const char *program_name(int index) { return index >= 0 && index < program_count ? programs_text[index].name : nullptr; }
