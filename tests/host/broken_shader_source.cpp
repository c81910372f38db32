// A scene shader that does not build (its main calls a function that exists
// nowhere), in place of the embedded one: linked into demo-broken-shader,
// whose start-up must end with one line and exit code 1.
#include "shader_source.h"

namespace {
const char brokenSource[] = "void main()\n"
                            "{\n"
                            "    gl_FragColor = vec4(colourThatIsNeverDefined(gl_FragCoord.xy), 1.0);\n"
                            "}\n";
}

const char* const sceneShaderSource = brokenSource;
const unsigned sceneShaderSourceLength = sizeof brokenSource - 1;
