// The scene shader: every pixel of every frame, from the pixel position and
// the time alone. The host hands the time in milliseconds through the fog end
// (glFogi(GL_FOG_END, ms)) and draws one rectangle over the 1920x1080 picture.
//
// No version directive: the text is compiled as the default language of a
// compatibility-profile context, which keeps gl_Fog and gl_FragColor. It is
// written strictly (float literals for floats, explicit conversions) so that
// strict and permissive compilers read the same values.

// ---------------------------------------------------------------------------
// Shader-wide state, set by startFrame at the top of main.

float sceneTime;      // seconds since the frame loop started
float hitMaterial;    // material id of the nearest object at the latest scene evaluation
bool marchBounds;     // true only while the view or bounce ray is marched
float polyMaterial;   // 2 face, 3 edge or vertex, of the latest polyhedron evaluated inside its sphere
float shadowFactor;   // soft-shadow factor of the latest march

vec3 sunDir;          // towards the sun, the one light
const vec3 sunColour = vec3(1.0, 0.78, 0.52);
const vec3 skyBlue = vec3(0.22, 0.44, 0.55);
const vec3 lateSky = vec3(0.83, 0.82, 0.65);
float lateWeight;     // 1 while the late sky stands, 0 before scene 5 and after 167 s

// The time line, in seconds since the frame loop started. Seven scenes follow
// one another (scene 1 from 0 s, scene 7 to the end) and eight camera shots
// with them: each scene change is a cut, and shot 5 starts within scene 4.
// Every window starts inclusive: at t == SCENE_2_START scene 2 is drawn.
const float SCENE_2_START = 27.0;
const float SCENE_3_START = 61.9;
const float SCENE_4_START = 70.3;
const float SHOT_5_START = 75.5;    // the camera alone changes
const float SCENE_5_START = 106.5;  // also the white flash and the late sky
const float SCENE_6_START = 146.5;
const float SCENE_7_START = 168.0;

// The frame that the screen mapping is written for, 1920x1080: half its size
// in pixels, and the screen's width for a height of 2 (its aspect, rounded).
// A march stops within HALF_FRAME.y-ths of the distance: about a pixel.
const vec2 HALF_FRAME = vec2(960.0, 540.0);
const float SCREEN_ASPECT = 1.78;

// smoothstep for any order of the edges: with edge0 > edge1 a ramp that
// falls from 1 at x <= edge1 to 0 at x >= edge0 (the built-in leaves that
// order undefined).
float smoothRamp(float edge0, float edge1, float x)
{
    float s = clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return s * s * (3.0 - 2.0 * s);
}

void startFrame(float t)
{
    sceneTime = t;
    hitMaterial = 0.0;
    marchBounds = false;
    polyMaterial = 2.0;
    shadowFactor = 4.0;
    sunDir = normalize(vec3(-0.9, 0.3, 0.3));
    lateWeight = t < SCENE_5_START ? 0.0 : smoothRamp(167.0, 154.0, t);
}

// ---------------------------------------------------------------------------
// Small helpers.

// Turns the pair (a, b) by angle: (cos a + sin b, -sin a + cos b).
vec2 rotate2(vec2 pair, float angle)
{
    float c = cos(angle);
    float s = sin(angle);
    return vec2(c * pair.x + s * pair.y, -s * pair.x + c * pair.y);
}

float hash1(float x)
{
    return fract((x * 6.97) * fract(x * 123.47));
}

// 3-D value noise in -.5 to .5 on the unit lattice.
float valueNoise(vec3 p)
{
    vec3 cell = floor(p);
    vec3 f = p - cell;
    f = f * f * (3.0 - 2.0 * f);
    float key = cell.x + 19.0 * cell.y + 38.0 * cell.z;
    float lower = mix(mix(hash1(key + 18.0), hash1(key + 19.0), f.x),
                      mix(hash1(key + 37.0), hash1(key + 38.0), f.x), f.y);
    float upper = mix(mix(hash1(key + 56.0), hash1(key + 57.0), f.x),
                      mix(hash1(key + 75.0), hash1(key + 76.0), f.x), f.y);
    return mix(lower, upper, f.z) - 0.5;
}

// ---------------------------------------------------------------------------
// Shapes.

// The faceClip that lifts every face away: the polyhedron's edges alone.
const float NO_FACES = 100.0;

// A polyhedron folded from one vertex by the reflection group whose mirrors
// x = 0, y = 0 and the fold plane meet at pi/2, pi/3 and pi/foldCount.
// faceClip lifts the face distance (NO_FACES: no faces); edges stand only
// where their distance exceeds edgeGate - .01. Outside the bounding sphere
// the polyhedron is a sphere during the view marches and absent otherwise.
float polyhedronDistance(vec3 p, int foldCount, float weightA, float weightB, float weightC,
                         float faceClip, float edgeGate)
{
    float dist = length(p) - 1.55;
    float best = 1000.0;
    if (dist < 0.0) {
        float c = cos(3.1415926 / float(foldCount));
        float s = sqrt(0.75 - c * c);
        vec3 foldNormal = vec3(-0.5, -c, s);
        vec3 axisA = vec3(0.0, 0.0, 1.0);
        vec3 axisB = normalize(vec3(s, 0.0, 0.5));
        vec3 axisC = normalize(vec3(0.0, s, c));
        vec3 vertex = normalize(weightA * axisA + weightB * axisB + weightC * axisC);

        for (int i = 0; i < foldCount; i++) {
            p.xy = abs(p.xy);
            float side = dot(p, foldNormal);
            if (side < 0.0)
                p -= 2.0 * side * foldNormal;
        }

        float faceDist = max(max(dot(p, axisA) - dot(axisA, vertex),
                                 dot(p, axisB) - dot(axisB, vertex)),
                             dot(p, axisC) - dot(axisC, vertex));
        faceDist = max(faceDist, faceClip * 0.5 - 0.01);
        if (faceDist < best) {
            polyMaterial = 2.0;
            best = faceDist;
        }

        vec3 e = p - vertex;
        float edgeDist = min(min(length(e - min(0.0, e.x) * vec3(1.0, 0.0, 0.0)),
                                 length(e - min(0.0, e.y) * vec3(0.0, 1.0, 0.0))),
                             length(e - min(0.0, dot(e, foldNormal)) * foldNormal)) - 0.02;
        edgeDist = min(edgeDist, length(p - vertex) - 0.05);
        if (edgeDist < best && edgeDist > edgeGate - 0.01) {
            polyMaterial = 3.0;
            best = edgeDist;
        }
    } else if (marchBounds) {
        best = dist + 0.05;
    }
    return best;
}

// The polyhedra that the scenes draw. With the vertex on the foldCount-fold
// axis (weights 0, 1, 0) the polyhedron is the icosahedron (5 folds) or the
// octahedron (4); on the three-fold axis (0, 0, 1) the dodecahedron or the
// cube.

// The icosahedron or octahedron, whole.
float foldAxisSolid(vec3 p, int foldCount)
{
    return polyhedronDistance(p, foldCount, 0.0, 1.0, 0.0, 0.0, 0.0);
}

// The dodecahedron or cube, whole.
float threeFoldSolid(vec3 p, int foldCount)
{
    return polyhedronDistance(p, foldCount, 0.0, 0.0, 1.0, 0.0, 0.0);
}

// The dodecahedron, whole.
float solidDodecahedron(vec3 p)
{
    return polyhedronDistance(p, 5, 0.0, 0.0, 1.0, 0.0, 0.0);
}

// The dodecahedron, faces lifted by faceClip and edges gated by edgeGate.
float dodecahedron(vec3 p, float faceClip, float edgeGate)
{
    return polyhedronDistance(p, 5, 0.0, 0.0, 1.0, faceClip, edgeGate);
}

// The icosahedron, its faces lifted by faceClip.
float icosahedron(vec3 p, float faceClip)
{
    return polyhedronDistance(p, 5, 0.0, 1.0, 0.0, faceClip, 0.0);
}

// The cuboctahedron (3 folds, the vertex between the three-fold axes), whole.
float cuboctahedron(vec3 p)
{
    return polyhedronDistance(p, 3, 0.0, 1.0, 1.0, 0.0, 0.0);
}

// Distance estimate of a quaternion Julia set; before 82 s (juliaC = 0) the
// set is the unit ball.
float juliaDistance(vec3 p)
{
    float t = sceneTime;
    vec4 quat = vec4(p, 0.0);               // x: real part, yzw: vector part
    vec4 quatDeriv = vec4(1.0, 0.0, 0.0, 0.0);
    vec4 juliaC = smoothstep(82.0, 95.0, t) * 0.45
                * vec4(-1.0 + 0.3 * sin(1.5 * t), sin(1.6 * t), sin(1.2 * t), sin(0.7 * t));
    for (int i = 0; i < 12; i++) {
        quatDeriv = 2.0 * vec4(quat.x * quatDeriv.x - dot(quat.yzw, quatDeriv.yzw),
                               quat.x * quatDeriv.yzw + quatDeriv.x * quat.yzw + cross(quat.yzw, quatDeriv.yzw));
        quat = vec4(quat.x * quat.x - dot(quat.yzw, quat.yzw), 2.0 * quat.x * quat.yzw) + juliaC;
        if (dot(quat, quat) > 8.0)
            break;
    }
    float m = length(quat);
    return 0.4 * m * log(m) / length(quatDeriv);
}

// Offers an object to the scene: it becomes the nearest if strictly nearer.
void offer(inout float nearest, float d, float id)
{
    if (d < nearest) {
        hitMaterial = id;
        nearest = d;
    }
}

// A polyhedron spinning on two axes about centre.
vec3 tumblerFrame(vec3 p, vec3 centre)
{
    vec3 q = p - centre;
    q.xz = rotate2(q.xz, sin(sceneTime * 2.17));
    q.yz = rotate2(q.yz, sceneTime * 1.79);
    return q;
}

// Two rows of polyhedra at x = +-5 drifting towards -z.
void offerRows(inout float nearest, vec3 p, int foldCount)
{
    vec3 q = p;
    q.x = abs(q.x);
    q -= vec3(5.0, 1.1, -sceneTime * 2.7);
    q.z = mod(q.z, 10.0) - 5.0;
    q.xz = rotate2(q.xz, sceneTime);
    float d = foldAxisSolid(q, foldCount);
    offer(nearest, d, polyMaterial + 2.0);
}

// Six spokes of rows about (0, 0, 400).
void offerStarRows(inout float nearest, vec3 p)
{
    vec3 q = p - vec3(0.0, 0.0, 400.0);
    float rho = length(q.xz);
    float phi = mod(atan(q.z, q.x), 1.04667) - 0.52333;
    q.x = rho * cos(phi);
    q.z = abs(rho * sin(phi));
    q -= vec3(0.0, 1.1, 5.0);
    q.x = mod(q.x, 10.0) - 5.0;
    q.xz = rotate2(q.xz, sceneTime);
    float d = foldAxisSolid(q, 4);
    offer(nearest, d, polyMaterial + 2.0);
}

// Two giant nested polyhedra far ahead.
void offerGiants(inout float nearest, vec3 p, int foldCount, float scaleFactor)
{
    vec3 q = p - vec3(0.0, 120.0, 400.0);
    q.xz = rotate2(q.xz, sin(sceneTime * -0.03));
    float d = 103.0 * threeFoldSolid(q / 103.0, foldCount);
    offer(nearest, d, polyMaterial);
    d = scaleFactor * 103.0 * foldAxisSolid(q / (103.0 * scaleFactor), foldCount);
    offer(nearest, d, polyMaterial + 2.0);
}

// Nested polyhedra zooming by e^13 per unit of phase, three levels a third
// of a phase apart; only the smallest level holding p is evaluated.
void offerZoom(inout float nearest, vec3 p)
{
    float t = sceneTime;
    float phase = smoothstep(116.0, 142.0, t) * 4.97 + 1.0;
    float bestScale = 99999.0;
    int chosen = -1;
    float generation = 0.0;
    for (int k = 0; k < 3; k++) {
        float level = float(k);
        float levelScale = exp(mod(phase - level / 3.0, 1.0) * 13.0 - 3.5);
        float d = levelScale * (length(p / levelScale + vec3(0.0, 1.1, 0.0)) - 1.55);
        if (d < 0.0) {
            if (levelScale < bestScale) {
                chosen = k;
                bestScale = levelScale;
                generation = floor(phase - level / 3.0);
            }
        } else if (marchBounds && d < nearest) {
            nearest = d + 0.05 * levelScale;
        }
    }
    if (chosen >= 0) {
        float level = float(chosen);
        vec3 q = p;
        q.xz = rotate2(q.xz, t * (level + 1.0));
        float weightA = hash1(3.0 * generation + level) > 0.5 ? 1.0 : 0.0;
        float weightB = hash1(3.0 * generation + level + 1.0) > 0.5 ? 1.0 : 0.5;
        float weightC = hash1(3.0 * generation + level + 2.0) > 0.5 ? 1.0 : 0.0;
        float d = bestScale * polyhedronDistance(q / bestScale + vec3(0.0, 1.1, 0.0), 3 + chosen,
                                                 weightA, weightB, weightC, 0.0, 0.0);
        offer(nearest, d, polyMaterial + 2.0 * mod(level + generation, 3.0));
    }
}

// The signed distance of the scene of the moment; sets hitMaterial.
float sceneDistance(vec3 p)
{
    float t = sceneTime;
    float nearest = p.y;  // the floor
    hitMaterial = 0.0;
    vec3 q;
    float d;
    if (t < SCENE_2_START) {
        // Scene 1: one polyhedron whose faces and edges grow in.
        q = p - vec3(0.0, 1.1, 0.0);
        q.xz = rotate2(q.xz, t);
        // The reveal fields matter only inside the bounding sphere (1.55,
        // with a margin for rounding); elsewhere they are not computed.
        float faceField = 0.0;
        float edgeField = 0.0;
        if (length(q) < 1.56) {
            faceField = -length(q + vec3(0.5, 1.0, 0.4)) + 5.41 - t * 0.23 + valueNoise(2.0 * q) * 1.36;
            edgeField = -length(q + vec3(0.5, -2.0, 0.4)) + 5.0 - t * 0.35 + valueNoise(0.01 * p);
        }
        d = dodecahedron(q, faceField, edgeField);
        offer(nearest, d, polyMaterial);
    } else if (t < SCENE_3_START) {
        // Scene 2: a tumbler, two rows, two giants.
        d = solidDodecahedron(tumblerFrame(p, vec3(0.0, 1.3, 0.0)));
        offer(nearest, d, polyMaterial);
        offerRows(nearest, p, 4);
        offerGiants(nearest, p, 4, 1.16);
    } else if (t < SCENE_4_START) {
        // Scene 3: the tumbler flies over the star of rows.
        d = solidDodecahedron(tumblerFrame(p, vec3(0.0, 1.3, t * 5.0 - 150.0)));
        offer(nearest, d, polyMaterial);
        offerStarRows(nearest, p);
        offerGiants(nearest, p, 4, 1.16);
    } else if (t < SCENE_5_START) {
        // Scene 4: the star of rows, the dome and the fractal.
        d = solidDodecahedron(tumblerFrame(p, vec3(0.0, 1.3, 390.0 - 34.1 * smoothRamp(85.0, 60.0, t))));
        offer(nearest, d, polyMaterial);
        offerStarRows(nearest, p);
        q = p + vec3(0.0, -11.5 - 210.0, -400.0);
        offer(nearest, length(q) - 210.0, 5.0);
        q = p - vec3(0.0, 3.42, 400.0);
        d = length(q) - 3.5;
        if (d < 0.3)
            d = 2.5 * juliaDistance(q / 2.5);
        offer(nearest, d, 1.0);
    } else if (t < SCENE_6_START) {
        // Scene 5: no floor; a wire polyhedron and the zoom.
        nearest = 9999.0;
        float w = smoothstep(109.5, 111.5, t);
        float u = smoothstep(109.0, 122.0, t);
        q = p;
        q.xz = rotate2(q.xz, w * (t - 110.0));
        q += vec3(7.0 * u, -53.3 + 50.0 * u, 0.0);
        q.xz = rotate2(q.xz, w * sin(t));
        q.yz = rotate2(q.yz, w * sin(t * 0.8));
        q.xy = rotate2(q.xy, w * sin(t * 0.7));
        d = dodecahedron(q, NO_FACES, 0.0);
        offer(nearest, d, polyMaterial + 2.0);
        offerZoom(nearest, p);
    } else if (t < SCENE_7_START) {
        // Scene 6: two polyhedra slide together and merge.
        float f = smoothRamp(153.0, 143.0, t) * -9.0 + smoothRamp(160.0, 156.0, t) * -2.14;
        float g = smoothRamp(160.0, 150.0, t);
        q = p + vec3(-0.5 * f, -1.21, 0.0);
        q.xz = rotate2(q.xz, t);
        q.yz = rotate2(q.yz, g * sin(t * 0.8));
        q.xy = rotate2(q.xy, g * sin(t * 0.7));
        vec3 second = p + vec3(0.5 * f, -1.21, 0.0);
        // As in scene 1, a field is computed only where a polyhedron that
        // uses it is evaluated (inside its bounding sphere, with a margin).
        bool nearSecond = length(second) < 1.56 * 1.096;
        float fieldA = 0.0;
        if (t > 160.0 && (length(q) < 1.56 || nearSecond))
            fieldA = -length(q - vec3(0.0, 0.9, 0.0)) + 66.8 - t * 0.4 + valueNoise(2.0 * q) * 1.36;
        d = dodecahedron(q, t > 160.0 ? fieldA : NO_FACES, 0.0);
        offer(nearest, d, polyMaterial);
        q = second;
        float fieldB = 0.0;
        if (t <= 160.0 && nearSecond)
            fieldB = -length(q + vec3(1.8, 0.0, -0.4)) - 76.0 + t * 0.5 + valueNoise(2.0 * q) * 1.36;
        q.xz = rotate2(q.xz, t);
        d = 1.096 * icosahedron(q / 1.096, t > 160.0 ? fieldA : fieldB);
        offer(nearest, d, polyMaterial + 2.0);
    } else {
        // Scene 7: the end state of scene 2 with other folds.
        d = cuboctahedron(tumblerFrame(p, vec3(0.0, 1.3, t * 2.0 - 352.0)));
        offer(nearest, d, polyMaterial);
        offerRows(nearest, p, 5);
        offerGiants(nearest, p, 5, 1.096);
    }
    return nearest;
}

// ---------------------------------------------------------------------------
// Marching and shading.

// Sphere tracing with a threshold relative to the distance travelled. A ray
// that runs out of steps after passing within four times the threshold
// counts as a hit at its closest approach. Leaves the soft-shadow factor of
// the way in shadowFactor (0 on a hit). Returns the distance at the hit.
float marchRay(vec3 direction, vec3 origin, float maxSteps, float maxDist, float hitEps,
               out float missed, out vec3 endPoint)
{
    shadowFactor = 4.0;
    float travel = 0.0;
    float closestRatio = 1000.0;
    float closestTravel = 0.1;
    float closestDist = maxDist;
    for (float stepIndex = 0.0; stepIndex < maxSteps; stepIndex += 1.0) {
        float dist = sceneDistance(origin + direction * travel);
        if (travel != 0.0) {
            float ratio = abs(dist) / travel;
            if (ratio < closestRatio) {
                closestTravel = travel;
                closestRatio = ratio;
                closestDist = dist;
            }
            if (ratio < hitEps || travel > maxDist)
                break;
            shadowFactor = min(shadowFactor, 30.0 * dist * (1.0 / travel));
        } else if (dist <= 0.0) {
            // Starting on or inside a surface: the ratio would be infinite
            // (never the closest, never a hit) and the sun is hidden.
            shadowFactor = 0.0;
        }
        travel += dist;
    }
    if (travel > maxDist || closestRatio > 4.0 * hitEps) {
        missed = 1.0;
        endPoint = origin + direction * travel;
    } else {
        missed = 0.0;
        shadowFactor = 0.0;
        endPoint = origin + direction * closestTravel;
    }
    return closestDist;
}

vec3 estimateNormal(vec3 point, float dist)
{
    return normalize(vec3(sceneDistance(point + vec3(0.005, 0.0, 0.0)) - dist,
                          sceneDistance(point + vec3(0.0, 0.005, 0.0)) - dist,
                          sceneDistance(point + vec3(0.0, 0.0, 0.005)) - dist));
}

// materialParams = (specularScale, reflectance, roughness).
void materialLookup(vec3 point, float id, vec3 normal, out vec3 albedo, out vec3 materialParams)
{
    if (id < 0.5) {
        albedo = mix(0.04 * vec3(1.0, 0.13, 0.09), vec3(0.07, 0.09, 0.11), lateWeight);
        materialParams = vec3(0.015, 0.271, 0.57);
    } else if (id < 1.5) {
        albedo = 0.04 * vec3(0.06, 0.73, 0.3);
        materialParams = vec3(0.05, 0.1, 0.16);
    } else if (id < 2.5) {
        albedo = 0.04 * vec3(0.0, 0.14, 0.67);
        materialParams = vec3(0.1, 0.02, 0.608);
    } else if (id < 3.5) {
        albedo = 0.04 * vec3(0.73, 0.47, 0.27);
        materialParams = vec3(0.4, 0.04, 0.4);
    } else if (id < 4.5) {
        albedo = 0.04 * vec3(1.0, 1.0, 1.0);
        materialParams = vec3(0.2, 0.04, 0.2);
    } else if (id < 5.5) {
        albedo = 0.04 * vec3(0.02, 0.0, 0.0);
        materialParams = vec3(0.02, 1.0, 0.563);
    } else if (id < 6.5) {
        albedo = 0.04 * vec3(1.0, 0.0, 0.18);
        materialParams = vec3(0.1, 0.2, 0.5);
    } else {
        albedo = 0.04 * vec3(0.26, 1.0, 0.73);
        materialParams = vec3(0.04, 0.9, 0.4);
    }
}

// Light reflected towards V from a unit light arriving from L at a surface
// of normal N: diffuse plus a microfacet specular term.
vec3 lightSurface(vec3 L, vec3 V, vec3 N, vec3 albedo, vec3 materialParams)
{
    float specularScale = materialParams.x;
    float reflectance = materialParams.y;
    float roughness = materialParams.z;
    vec3 H = normalize(V + L);
    float alpha = roughness * roughness;
    float NL = max(0.0, dot(N, L));
    float NH = max(0.0, dot(N, H));
    float q = NH * NH * (alpha * alpha - 1.0) + 1.0;
    float k = alpha * 0.5;
    float edge = 1.0 - max(0.0, dot(L, H));
    float fresnel = reflectance + (1.0 - reflectance) * (edge * edge * edge * edge * edge);
    float visibility = (NL * (1.0 - k) + k) * (max(0.0, dot(N, V)) * (1.0 - k) + k);
    float specular = ((specularScale * alpha * alpha) / (3.14 * q * q)) * fresnel / visibility;
    return NL * (albedo * (1.0 - reflectance) + specular);
}

// Sun light through the soft shadow (reddening as it falls) plus sky ambient.
vec3 surfaceColour(vec3 normal, vec3 albedo, vec3 materialParams, vec3 rayDir)
{
    vec3 sunLight = 25.0 * pow(sunColour * clamp(shadowFactor, 0.0, 1.0), vec3(1.01, 1.2, 1.4));
    vec3 ambient = (normal.y + 1.0) * albedo * 0.5 * skyBlue;
    return max(lightSurface(sunDir, -rayDir, normal, albedo, materialParams) * sunLight + ambient, 0.0);
}

// Height fog gathered between origin and end: thick low down, thin above.
// For a (nearly) level ray the closed form turns into 0/0, or loses every
// digit to cancellation; there the first two terms of its series take over,
// which is the same fog the ray gathers at constant height.
float fogAmount(vec3 origin, vec3 end, vec3 direction)
{
    float travel = length(end - origin);
    float rise = travel * direction.y * 0.03;
    if (abs(rise) < 1.0e-4)
        return clamp(0.25 * exp(-origin.y * 0.03) * travel * 0.03 * (1.0 - 0.5 * rise), 0.0, 1.0);
    return clamp(0.25 * exp(-origin.y * 0.03) * (1.0 - exp(-rise)) / direction.y, 0.0, 1.0);
}

// ---------------------------------------------------------------------------
// The frame.

// The camera shot of time t; returns its number, 1 to 8. Shots 1 to 4 start
// with scenes 1 to 4, shots 6 to 8 with scenes 5 to 7.
int cameraShot(float t, out vec3 cameraPos, out float focal, out float pitch, out float yaw)
{
    if (t < SCENE_2_START) {
        cameraPos = vec3(1.56, 0.43, -5.0);
        focal = 2.6;
        pitch = -0.03;
        yaw = 0.0;
        return 1;
    }
    if (t < SCENE_3_START) {
        float s2 = smoothstep(30.0, 55.0, t);
        cameraPos = mix(vec3(1.2, 5.3, -1.3), vec3(2.8, 1.0, -9.3), s2);
        focal = 1.99;
        pitch = mix(1.0, -0.1, s2);
        yaw = mix(-0.5, -0.34, s2);
        return 2;
    }
    if (t < SCENE_4_START) {
        cameraPos = vec3(72.46, 300.0, 130.0 + t * 1.5);
        focal = 2.6;
        pitch = 1.16;
        yaw = -1.14;
        return 3;
    }
    if (t < SHOT_5_START) {
        cameraPos = vec3(-68.8 + t, 3.0, 331.7 + t);
        focal = 2.6;
        pitch = 0.13;
        yaw = 3.81;
        return 4;
    }
    if (t < SCENE_5_START) {
        cameraPos = mix(vec3(3.3, 1.7, 374.5), vec3(1.6, 1.7, 389.0), smoothstep(78.0, 100.0, t));
        focal = 2.6;
        pitch = -0.05;
        yaw = -0.2;
        return 5;
    }
    if (t < SCENE_6_START) {
        cameraPos = mix(mix(vec3(1.15, 53.9, -2.0), vec3(3.0, 55.0, -45.0), smoothstep(112.0, 135.0, t)),
                        vec3(-1.0, 17.0, -7.0), smoothstep(140.0, 145.0, t));
        focal = 2.5;
        pitch = smoothstep(109.0, 112.0, t) * 1.6 - smoothstep(110.0, 125.0, t) * 0.45;
        yaw = 0.0;
        return 6;
    }
    if (t < SCENE_7_START) {
        cameraPos = vec3(0.06, 0.8, -45.5 + t * 0.25);
        focal = 2.6;
        pitch = -0.05;
        yaw = 0.1;
        return 7;
    }
    cameraPos = vec3(2.8, 1.0, -9.3);
    focal = 1.99;
    pitch = -0.1;
    yaw = -0.34;
    return 8;
}

void main()
{
    startFrame(gl_Fog.end * 0.001);
    float t = sceneTime;
    vec2 screenPos = (gl_FragCoord.xy / HALF_FRAME - 1.0) * vec2(SCREEN_ASPECT, 1.0);

    vec3 cameraPos;
    float focal;
    float pitch;
    float yaw;
    cameraShot(t, cameraPos, focal, pitch, yaw);
    vec3 viewDir = normalize(vec3(screenPos, focal));
    viewDir.zy = rotate2(viewDir.zy, pitch);  // positive: down
    viewDir.xz = rotate2(viewDir.xz, yaw);    // positive: towards +x

    // Camera shake: value noise at the unshaken position.
    vec3 p = cameraPos;
    cameraPos += 0.03 * vec3(valueNoise(vec3(p.x, p.y, 3.0 * t * 1.65)),
                             valueNoise(vec3(p.x, 2.0 * t * 1.65, p.z)),
                             valueNoise(vec3(t * 1.65, p.y, p.z)));

    vec3 rayOrigin = cameraPos;
    vec3 hitPos = cameraPos;
    vec3 rayDir = viewDir;
    vec3 bounceWeight = vec3(0.0);
    vec3 colourSum = vec3(0.0);
    // Pass 0 is the view ray, pass 1 the reflection bounce of smooth surfaces.
    for (int pass = 0; pass < 2; pass++) {
        float passLevel = float(pass);
        float missed;
        marchBounds = true;
        float hitDist = marchRay(rayDir, rayOrigin, 300.0, 10000.0, (0.05 + passLevel * 0.1) / HALF_FRAME.y, missed, hitPos);
        marchBounds = false;
        // The material of the march's last scene evaluation, before any other.
        float materialId = hitMaterial;

        float sunGlow = pow(max(dot(rayDir, sunDir), 0.0), 200.0);
        vec3 sunDisc = pass == 0 ? 25.0 * sunColour * sunGlow : vec3(0.0);
        vec3 skyColour = mix(skyBlue + sunDisc, lateSky, lateWeight);

        vec3 colour = skyColour;
        vec3 normal = vec3(0.0, 1.0, 0.0);
        vec3 albedo = vec3(0.0);
        vec3 materialParams = vec3(0.0, 0.0, 1.0);
        // A ray that missed shows the sky: its surface terms would be
        // replaced, so they are not computed.
        if (missed == 0.0) {
            normal = estimateNormal(hitPos, hitDist);
            materialLookup(hitPos, materialId, normal, albedo, materialParams);
            float shadowMissed;
            vec3 shadowEnd;
            marchRay(sunDir, hitPos + 0.03 * normal, 70.0, 50.0, (4.0 + passLevel * 4.0) / HALF_FRAME.y / HALF_FRAME.y,
                     shadowMissed, shadowEnd);
            colour = surfaceColour(normal, albedo, materialParams, rayDir);
        }

        vec3 fogColour = mix(skyColour, 25.0 * sunColour, sunGlow);
        colour = mix(colour, fogColour, fogAmount(rayOrigin, hitPos, rayDir));

        if (pass == 0) {
            colourSum = colour;
            if (materialParams.z < 0.5 && missed == 0.0) {
                vec3 bounceDir = reflect(rayDir, normal);
                bounceWeight = lightSurface(bounceDir, -rayDir, normal, albedo, materialParams);
                rayDir = bounceDir;
                hitPos += rayDir * (hitDist + 0.1);
                rayOrigin = hitPos;
            } else {
                break;
            }
        } else {
            colourSum += bounceWeight * colour;
        }
    }

    // Finish: vignette, fade-in, the white flash at the start of scene 5,
    // grain and gamma.
    float r2 = dot(screenPos, screenPos);
    float fadeDivisor = 0.1 * r2 + min(max(1.0, 9.0 - t * 1.5), abs(SCENE_5_START - t) * 0.25);
    float grain = 0.8 + 0.2 * hash1(r2 * 1000.0 + t);
    gl_FragColor.xyz = pow(colourSum * grain, vec3(0.45)) / (fadeDivisor * fadeDivisor);
}
