// Tests of the scene shader's functions, compiled from the embedded text
// by the offscreen OpenGL driver and probed pixel by pixel.

#include "shader_probe.h"
#include "scene_time_line.h"
#include "shader_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::vector<Probe> probe(const std::vector<std::string>& cases, std::uint32_t fogMs = 0,
                         const std::string& helpers = "", const std::string& epilogue = "")
{
    return ShaderProbe::instance().run(cases, fogMs, helpers, epilogue);
}

std::string setTime(double seconds)
{
    return "startFrame(" + glslFloat(seconds) + ");";
}

TEST(SceneShaderText, BuildsAsItStandsAsTheHostBuildsItAtScaleOne)
{
    std::string log;
    EXPECT_TRUE(ShaderProbe::instance().build(sceneShaderSource, log)) << log;
    // Nothing may be put in front of the text, and a version directive
    // other than the compatibility profile's would lose gl_Fog.
    const std::string text = sceneShaderSource;
    const auto version = text.find("#version");
    if (version != std::string::npos) {
        EXPECT_NE(text.find("compatibility", version), std::string::npos);
    }
    EXPECT_NE(text.find("gl_Fog.end"), std::string::npos);
}

TEST(SceneShaderHelpers, HashAndRotation)
{
    const auto r = probe({
        "result = vec4(hash1(0.0), hash1(1.0), hash1(2.5), hash1(-7.25));",
        // (a, b) by angle: (cos a + sin b, -sin a + cos b).
        "result = vec4(rotate2(vec2(1.0, 0.0), 0.5), rotate2(vec2(0.0, 1.0), 0.5));",
        // Many hashes stay within [0, 1).
        "float lo = 1.0; float hi = 0.0;"
        " for (int i = 0; i < 500; i++) { float h = hash1(float(i) * 0.37 - 60.0); lo = min(lo, h); hi = max(hi, h); }"
        " result = vec4(lo, hi, 0.0, 0.0);",
    });
    EXPECT_EQ(r[0][0], 0.0f);
    EXPECT_NEAR(r[0][1], 0.2759, 2e-4);  // fract(6.97 * fract(123.47))
    auto hash = [](double x) {
        const double v = x * 6.97 * (x * 123.47 - std::floor(x * 123.47));
        return v - std::floor(v);
    };
    EXPECT_NEAR(r[0][2], hash(2.5), 1e-3);
    EXPECT_NEAR(r[0][3], hash(-7.25), 1e-2);
    EXPECT_NEAR(r[1][0], std::cos(0.5), 1e-6);
    EXPECT_NEAR(r[1][1], -std::sin(0.5), 1e-6);
    EXPECT_NEAR(r[1][2], std::sin(0.5), 1e-6);
    EXPECT_NEAR(r[1][3], std::cos(0.5), 1e-6);
    EXPECT_GE(r[2][0], 0.0f);
    EXPECT_LT(r[2][1], 1.0f);
    EXPECT_GT(r[2][1] - r[2][0], 0.9f);
}

TEST(SceneShaderHelpers, ValueNoiseAliasesAlongTheLatticeAndStaysInRange)
{
    const std::string p = glslVec3(0.3, 0.6, 0.8);
    const auto r = probe({
        "vec3 p = " + p + "; result = vec4(valueNoise(p + vec3(19.0, 0.0, 0.0)), valueNoise(p + vec3(0.0, 1.0, 0.0)),"
        " valueNoise(p + vec3(0.0, 2.0, 0.0)), valueNoise(p + vec3(0.0, 0.0, 1.0)));",
        "vec3 p = vec3(2.7, 1.2, 0.4); result = vec4(valueNoise(p + vec3(38.0, 0.0, 0.0)),"
        " valueNoise(p + vec3(0.0, 0.0, 1.0)), valueNoise(p), 0.0);",
        // On a lattice point the noise is the corner's hash less .5.
        "result = vec4(valueNoise(vec3(2.0, 1.0, 3.0)), hash1(2.0 + 19.0 + 38.0 * 3.0 + 18.0) - 0.5, 0.0, 0.0);",
        "float lo = 1.0; float hi = -1.0;"
        " for (int i = 0; i < 400; i++) { float n = valueNoise(vec3(float(i) * 0.173, float(i) * 0.071, float(i) * 0.029));"
        " lo = min(lo, n); hi = max(hi, n); } result = vec4(lo, hi, 0.0, 0.0);",
    });
    EXPECT_NEAR(r[0][0], r[0][1], 1e-4);
    EXPECT_NEAR(r[0][2], r[0][3], 1e-4);
    EXPECT_NEAR(r[1][0], r[1][1], 1e-4);
    EXPECT_GT(std::abs(r[0][1] - r[0][3]), 1e-3);  // not aliased everywhere
    EXPECT_NEAR(r[2][0], r[2][1], 1e-5);
    EXPECT_GE(r[3][0], -0.5f);
    EXPECT_LE(r[3][1], 0.5f);
    EXPECT_GT(r[3][1] - r[3][0], 0.3f);
}

// The fold normal of each fold count is a mirror of the polyhedron: the
// distance field is the same at a point and its mirror image, and (as the
// mirror of another fold count) not in general.
TEST(SceneShaderGeometry, FoldNormalsAreMirrorsOfThePolyhedron)
{
    struct Fold {
        int n;
        double x, y, z;
    };
    const Fold folds[] = {{3, -0.5, -0.5, 0.70710678}, {4, -0.5, -0.70710678, 0.5}, {5, -0.5, -0.80901699, 0.30901699}};
    std::string helpers =
        "vec2 mirrorGap(int n, vec3 normal, float wa, float wb, float wc)\n{\n"
        "    float worst = 0.0; float shape = 0.0;\n"
        "    for (int i = 0; i < 60; i++) {\n"
        "        vec3 p = vec3(hash1(float(i) + 0.5), hash1(float(i) + 100.5), hash1(float(i) + 200.5)) * 2.2 - 1.1;\n"
        "        float a = polyhedronDistance(p, n, wa, wb, wc, 0.0, 0.0);\n"
        "        float b = polyhedronDistance(p - 2.0 * dot(p, normal) * normal, n, wa, wb, wc, 0.0, 0.0);\n"
        "        float c = polyhedronDistance(p * vec3(-1.0, 1.0, 1.0), n, wa, wb, wc, 0.0, 0.0);\n"
        "        worst = max(worst, max(abs(a - b), abs(a - c)));\n"
        "        shape = max(shape, abs(a));\n"
        "    }\n"
        "    return vec2(worst, shape);\n}\n";
    std::vector<std::string> cases;
    for (const Fold& fold : folds) {
        const std::string normal = glslVec3(fold.x, fold.y, fold.z);
        const std::string n = std::to_string(fold.n);
        cases.push_back("result = vec4(mirrorGap(" + n + ", " + normal + ", 0.0, 0.0, 1.0), mirrorGap(" + n + ", " +
                        normal + ", 1.0, 1.0, 0.0));");
    }
    // The n = 5 mirror is not a mirror of the n = 4 polyhedron.
    cases.push_back("result = vec4(mirrorGap(4, " + glslVec3(folds[2].x, folds[2].y, folds[2].z) +
                    ", 0.0, 0.0, 1.0), 0.0, 0.0);");
    const auto r = probe(cases, 0, helpers);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("fold count " + std::to_string(folds[i].n));
        EXPECT_LT(r[i][0], 2e-4);
        EXPECT_LT(r[i][2], 2e-4);
        EXPECT_GT(r[i][1], 0.1f);  // a real shape was sampled
    }
    EXPECT_GT(r[3][0], 0.01f);
}

TEST(SceneShaderGeometry, PolyhedronFaceClipEdgeGateAndBoundingSphere)
{
    // The n = 5 solid with weights (1, 0, 0) has a vertex at (0, 0, 1).
    const auto r = probe({
        // Inside the solid near its centre: faces give at most -.01 deep...
        "polyMaterial = 9.0; float d = polyhedronDistance(vec3(0.05, 0.1, 0.15), 5, 1.0, 0.0, 0.0, 0.0, 0.0);"
        " result = vec4(d, polyMaterial, 0.0, 0.0);",
        // ... without faces the same point is far from any surface.
        "polyMaterial = 9.0; float d = polyhedronDistance(vec3(0.05, 0.1, 0.15), 5, 1.0, 0.0, 0.0, 100.0, 0.0);"
        " result = vec4(d, polyMaterial, 0.0, 0.0);",
        // Without faces no point of the ball is near a face: wherever the
        // distance is a face's, it is the clip's 49.99.
        "float faces = 0.0; float lowest = 1000.0;"
        " for (int i = 0; i < 200; i++) {"
        "  vec3 p = vec3(hash1(float(i) + 0.25), hash1(float(i) + 300.25), hash1(float(i) + 600.25)) * 1.6 - 0.8;"
        "  polyMaterial = 0.0; float d = polyhedronDistance(p, 5, 1.0, 0.0, 0.0, 100.0, 0.0);"
        "  if (polyMaterial != 3.0 && d != 49.99) faces += 1.0; lowest = min(lowest, d); }"
        " result = vec4(faces, lowest, 0.0, 0.0);",
        // Just inside the vertex ball (radius 1.05 about the vertex) the edge
        // surface stands with edgeGate 0; deeper than .01 the faces take over.
        "float a = polyhedronDistance(vec3(0.0, 0.0, 1.045), 5, 1.0, 0.0, 0.0, 0.0, 0.0); float ma = polyMaterial;"
        " float b = polyhedronDistance(vec3(0.0, 0.0, 1.0), 5, 1.0, 0.0, 0.0, 0.0, 0.0);"
        " result = vec4(a, ma, b, polyMaterial);",
        // ... a point just outside the vertex ball: an edge surface with
        // edgeGate 0, hidden behind the face with a large gate.
        "float a = polyhedronDistance(vec3(0.0, 0.0, 1.1), 5, 1.0, 0.0, 0.0, 0.0, 0.0); float ma = polyMaterial;"
        " float b = polyhedronDistance(vec3(0.0, 0.0, 1.1), 5, 1.0, 0.0, 0.0, 0.0, 1.0); float mb = polyMaterial;"
        " result = vec4(a, ma, b, mb);",
        // Outside the bounding sphere: sphere distance + .05 while the view
        // ray is marched, 1000 otherwise; polyMaterial keeps its value.
        "polyMaterial = 7.0; marchBounds = true; float a = polyhedronDistance(vec3(0.0, 3.0, 0.0), 3, 0.0, 1.0, 0.0, 0.0, 0.0);"
        " float ma = polyMaterial; marchBounds = false;"
        " float b = polyhedronDistance(vec3(0.0, 3.0, 0.0), 3, 0.0, 1.0, 0.0, 0.0, 0.0);"
        " result = vec4(a, ma, b, polyMaterial);",
    });
    EXPECT_LT(r[0][0], 0.0f);
    EXPECT_GE(r[0][0], -0.0101f);
    EXPECT_EQ(r[0][1], 2.0f);
    EXPECT_GT(r[1][0], 0.2f);
    EXPECT_EQ(r[1][1], 3.0f);
    EXPECT_EQ(r[2][0], 0.0f);
    EXPECT_LT(r[2][1], 0.1f);
    EXPECT_NEAR(r[3][0], -0.005, 1e-5);
    EXPECT_EQ(r[3][1], 3.0f);
    EXPECT_NEAR(r[3][2], 0.0, 1e-5);
    EXPECT_EQ(r[3][3], 2.0f);
    EXPECT_NEAR(r[4][0], 0.05, 1e-5);
    EXPECT_EQ(r[4][1], 3.0f);
    EXPECT_GT(r[4][2], r[4][0]);
    EXPECT_EQ(r[4][3], 2.0f);
    EXPECT_NEAR(r[5][0], 3.0 - 1.55 + 0.05, 1e-5);
    EXPECT_EQ(r[5][1], 7.0f);
    EXPECT_EQ(r[5][2], 1000.0f);
    EXPECT_EQ(r[5][3], 7.0f);
}

TEST(SceneShaderGeometry, FractalIsABallOfRadius2Point5Before82Seconds)
{
    // Scene 4 at 80 s, along rays from the fractal's centre (0, 3.42, 400)
    // that meet nothing else. Each case chooses a point; one call measures.
    auto at = [](double x, double y, double z, double radius) {
        const double l = std::sqrt(x * x + y * y + z * z);
        return "point = " + glslVec3(x / l * radius, 3.42 + y / l * radius, 400.0 + z / l * radius) + ";";
    };
    std::vector<std::string> cases = {
        at(0.3, 0.5, -0.8, 2.49), at(0.3, 0.5, -0.8, 2.51), at(0.3, 0.5, -0.8, 2.499), at(0.3, 0.5, -0.8, 2.501),
        at(0.3, 0.5, -0.8, 3.9),  at(-0.9, -0.2, 0.1, 2.495), at(-0.9, -0.2, 0.1, 2.505),
    };
    // At 100 s the set is no longer that ball: pairs of points just inside
    // and outside the radius along 16 directions.
    for (int i = 0; i < 16; ++i) {
        const double polar = std::acos(1.0 - 2.0 * (i + 0.5) / 16.0), around = 2.39996 * i;
        const double x = std::sin(polar) * std::cos(around), y = std::cos(polar), z = std::sin(polar) * std::sin(around);
        cases.push_back(setTime(100.0) + at(x, y, z, 2.49));
        cases.push_back(setTime(100.0) + at(x, y, z, 2.51));
    }
    const auto r = probe(cases, 80000, "vec3 point;",
                         "result = vec4(sceneDistance(point), hitMaterial, 0.0, 0.0);");
    EXPECT_LT(r[0][0], 0.0f);
    EXPECT_EQ(r[0][1], 1.0f);
    EXPECT_GT(r[1][0], 0.0f);
    EXPECT_EQ(r[1][1], 1.0f);
    EXPECT_LT(r[2][0], 0.0f);
    EXPECT_GT(r[3][0], 0.0f);
    // Outside the shell the bounding sphere stands for the fractal, even
    // with marchBounds false.
    EXPECT_NEAR(r[4][0], 3.9 - 3.5, 1e-4);
    EXPECT_EQ(r[4][1], 1.0f);
    EXPECT_LT(r[5][0], 0.0f);
    EXPECT_GT(r[6][0], 0.0f);
    int unlikeTheBall = 0;
    for (int i = 0; i < 16; ++i)
        unlikeTheBall += r[7 + 2 * i][0] >= 0.0f || r[8 + 2 * i][0] <= 0.0f;
    EXPECT_GT(unlikeTheBall, 0);
}

// Marches with the inputs a case chose and packs (result, missed, the end
// point's travel along the direction, shadowFactor).
const char* const marchHelper =
    "vec3 marchDir; vec3 marchOrigin; vec3 marchLimits;\n"
    "vec4 probeMarch()\n{\n"
    "    float missed; vec3 endPoint;\n"
    "    float d = marchRay(marchDir, marchOrigin, marchLimits.x, marchLimits.y, marchLimits.z, missed, endPoint);\n"
    "    return vec4(d, missed, dot(endPoint - marchOrigin, marchDir), shadowFactor);\n}\n";

std::string marchCase(const std::string& direction, const std::string& origin, double maxSteps, double maxDist,
                      const std::string& hitEps)
{
    return "marchDir = " + direction + "; marchOrigin = " + origin + "; marchLimits = vec3(" + glslFloat(maxSteps) +
           ", " + glslFloat(maxDist) + ", " + hitEps + ");";
}

TEST(SceneShaderMarch, HitsMissesAndTheFourTimesRule)
{
    const std::string down = "vec3(0.0, -1.0, 0.0)", up = "vec3(0.0, 1.0, 0.0)", level = "vec3(0.0, 0.0, 1.0)";
    const std::string high = glslVec3(20.0, 1.0, 20.0), low = glslVec3(20.0, 0.5, 20.0);
    // Scene 1 at 3 s, far from its polyhedron: only the floor y = 0.
    const auto r = probe({
        // Straight down from height 1: a proper hit on the floor.
        marchCase(down, high, 300.0, 10000.0, "0.05 / 540.0"),
        // Straight up: beyond maxDist, a miss; the sun is never hidden.
        marchCase(up, high, 70.0, 50.0, "4.0 / 540.0 / 540.0"),
        // Level at height .5: steps of .5; after 70 steps travel is 35 and
        // the closest ratio .5 / 34.5 = .0145. Threshold .003: above four
        // times, a miss that ends where it stopped.
        marchCase(level, low, 70.0, 50.0, "0.003"),
        // Threshold .004: within four (not three) times, a hit at the
        // closest approach.
        marchCase(level, low, 70.0, 50.0, "0.004"),
        // Threshold .02: the ratio falls below it at step 51 (1/51 < .02).
        marchCase(level, low, 70.0, 50.0, "0.02"),
        // Level at height .5 with maxDist 20: stops beyond maxDist, a miss
        // even though its closest ratio is within four times the threshold.
        marchCase(level, low, 300.0, 20.0, "0.01"),
        // Starting exactly on the floor: distance 0 at travel 0 every step,
        // never a hit; the sun counts as hidden (not a 0 / 0 factor).
        marchCase("normalize(vec3(-0.9, 0.3, 0.3))", glslVec3(20.0, 0.0, 20.0), 70.0, 50.0, "4.0 / 540.0 / 540.0"),
    }, 3000, marchHelper, "result = probeMarch();");
    EXPECT_EQ(r[0][1], 0.0f);
    EXPECT_NEAR(r[0][2], 1.0, 1e-4);
    EXPECT_NEAR(r[0][0], 0.0, 1e-4);
    EXPECT_EQ(r[0][3], 0.0f);

    EXPECT_EQ(r[1][1], 1.0f);
    EXPECT_GT(r[1][2], 50.0f);
    EXPECT_EQ(r[1][3], 4.0f);
    // Travel 0, 1, 3, 7, 15, 31, 63: the last distance, 64, was the closest ratio.
    EXPECT_NEAR(r[1][0], 64.0, 1e-4);
    EXPECT_NEAR(r[1][2], 63.0, 1e-4);

    EXPECT_EQ(r[2][1], 1.0f);
    EXPECT_NEAR(r[2][2], 35.0, 1e-4);
    EXPECT_NEAR(r[2][3], 30.0 * 0.5 / 34.5, 1e-5);  // the penumbra factor of the way
    EXPECT_NEAR(r[2][0], 0.5, 1e-6);

    EXPECT_EQ(r[3][1], 0.0f);
    EXPECT_NEAR(r[3][2], 34.5, 1e-4);
    EXPECT_EQ(r[3][3], 0.0f);
    EXPECT_NEAR(r[3][0], 0.5, 1e-6);

    EXPECT_EQ(r[4][1], 0.0f);
    EXPECT_NEAR(r[4][2], 25.5, 1e-4);
    EXPECT_EQ(r[4][3], 0.0f);

    EXPECT_EQ(r[5][1], 1.0f);
    EXPECT_NEAR(r[5][2], 20.5, 1e-4);
    EXPECT_NEAR(r[5][0], 0.5, 1e-6);

    EXPECT_EQ(r[6][1], 1.0f);
    EXPECT_EQ(r[6][2], 0.0f);
    EXPECT_EQ(r[6][3], 0.0f);
}

TEST(SceneShaderShading, LightingMaterialsAmbientAndSunLight)
{
    const std::string L = "normalize(vec3(0.3, 0.8, 0.2))";
    const std::string V = "normalize(vec3(-0.4, 0.7, 0.1))";
    const std::string N = "vec3(0.0, 1.0, 0.0)";
    const auto r = probe({
        // Material 5: reflectance 1, so no diffuse term: a red albedo gives
        // a grey result, and with Fresnel 1 the result does not depend on it.
        "vec3 albedo; vec3 params; materialLookup(vec3(0.0), 5.0, vec3(0.0, 1.0, 0.0), albedo, params);"
        " vec3 a = lightSurface(" + L + ", " + V + ", " + N + ", vec3(1.0, 0.0, 0.0), params);"
        " result = vec4(a, params.y);",
        "vec3 albedo; vec3 params; materialLookup(vec3(0.0), 5.0, vec3(0.0, 1.0, 0.0), albedo, params);"
        " result = vec4(lightSurface(" + L + ", " + V + ", " + N + ", albedo, params), params.z);",
        // A normal that faces down gets no ambient: in full shadow it is black.
        "shadowFactor = 0.0; result = vec4(surfaceColour(vec3(0.0, -1.0, 0.0), vec3(0.5), vec3(0.1, 0.1, 0.5), vec3(0.0, 0.0, 1.0)), 0.0);",
        // Facing up in full shadow: the whole sky ambient, albedo x skyBlue.
        "shadowFactor = 0.0; result = vec4(surfaceColour(vec3(0.0, 1.0, 0.0), vec3(0.5), vec3(0.1, 0.1, 0.5), vec3(0.0, -1.0, 0.0)), 0.0);",
        // Unshadowed (factor 4): full sun light, (25, 18.55, 10.01) times the
        // lighting, with the ambient of a sideways normal.
        "shadowFactor = 4.0; vec3 n = normalize(vec3(-1.0, 0.0, 0.2)); vec3 ray = normalize(vec3(1.0, -0.2, 0.3));"
        " vec3 c = surfaceColour(n, vec3(0.5), vec3(0.1, 0.1, 0.5), ray) - 0.5 * vec3(0.5) * skyBlue;"
        " result = vec4(c / lightSurface(sunDir, -ray, n, vec3(0.5), vec3(0.1, 0.1, 0.5)), 0.0);",
        // Half shadow reddens: green and blue fall faster than red.
        "shadowFactor = 0.5; vec3 n = normalize(vec3(-1.0, 0.0, 0.2)); vec3 ray = normalize(vec3(1.0, -0.2, 0.3));"
        " vec3 c = surfaceColour(n, vec3(0.5), vec3(0.1, 0.1, 0.5), ray) - 0.5 * vec3(0.5) * skyBlue;"
        " result = vec4(c / lightSurface(sunDir, -ray, n, vec3(0.5), vec3(0.1, 0.1, 0.5)), 0.0);",
    });
    EXPECT_EQ(r[0][3], 1.0f);
    EXPECT_GT(r[0][0], 0.0f);
    EXPECT_NEAR(r[0][1], r[0][0], 1e-7);
    EXPECT_NEAR(r[0][2], r[0][0], 1e-7);
    // Independently: NL * specularScale * D / G with F = 1.
    {
        auto norm = [](double x, double y, double z) {
            const double l = std::sqrt(x * x + y * y + z * z);
            return std::array<double, 3>{x / l, y / l, z / l};
        };
        const auto l = norm(0.3, 0.8, 0.2), v = norm(-0.4, 0.7, 0.1);
        const auto h = norm(l[0] + v[0], l[1] + v[1], l[2] + v[2]);
        const double alpha = 0.563 * 0.563, nl = l[1], nv = v[1], nh = h[1], k = alpha / 2;
        const double q = nh * nh * (alpha * alpha - 1) + 1;
        const double expected = nl * 0.02 * alpha * alpha / (3.14 * q * q) / ((nl * (1 - k) + k) * (nv * (1 - k) + k));
        EXPECT_NEAR(r[0][0], expected, expected * 1e-4);
    }
    EXPECT_NEAR(r[1][0], r[0][0], 1e-7);
    EXPECT_EQ(r[1][3], 0.563f);

    EXPECT_EQ(r[2][0], 0.0f);
    EXPECT_EQ(r[2][1], 0.0f);
    EXPECT_EQ(r[2][2], 0.0f);
    EXPECT_NEAR(r[3][0], 0.5 * 0.22, 1e-6);
    EXPECT_NEAR(r[3][1], 0.5 * 0.44, 1e-6);
    EXPECT_NEAR(r[3][2], 0.5 * 0.55, 1e-6);

    EXPECT_NEAR(r[4][0], 25.0, 1e-3);
    EXPECT_NEAR(r[4][1], 25.0 * std::pow(0.78, 1.2), 1e-3);
    EXPECT_NEAR(r[4][2], 25.0 * std::pow(0.52, 1.4), 1e-3);
    EXPECT_NEAR(r[5][0], 25.0 * std::pow(0.5, 1.01), 1e-3);
    EXPECT_NEAR(r[5][1], 25.0 * std::pow(0.39, 1.2), 1e-3);
    EXPECT_NEAR(r[5][2], 25.0 * std::pow(0.26, 1.4), 1e-3);
}

TEST(SceneShaderShading, FogGathersWithDepthAndStaysFiniteOnALevelRay)
{
    const auto r = probe({
        // Looking down from height 2 over 20 units: the closed form.
        "vec3 d = normalize(vec3(1.0, -0.5, 0.0));"
        " result = vec4(fogAmount(vec3(0.0, 2.0, 0.0), vec3(0.0, 2.0, 0.0) + 20.0 * d, d), d.y, 0.0, 0.0);",
        // Exactly level, and level but for a rounding error: the fog of a ray
        // that stays at its height, .25 * .03 * exp(-.03 * height) per unit.
        "result = vec4(fogAmount(vec3(0.0, 2.0, 0.0), vec3(10.0, 2.0, 0.0), vec3(1.0, 0.0, 0.0)), 0.0, 0.0, 0.0);",
        "vec3 d = vec3(1.0, 1.0e-9, 0.0);"
        " result = vec4(fogAmount(vec3(0.0, 2.0, 0.0), vec3(0.0, 2.0, 0.0) + 10.0 * d, d), 0.0, 0.0, 0.0);",
        // Far and low: clamped to 1.
        "vec3 d = normalize(vec3(1.0, -0.1, 0.0));"
        " result = vec4(fogAmount(vec3(0.0, 0.0, 0.0), 1000.0 * d, d), 0.0, 0.0, 0.0);",
    });
    const double dy = r[0][1];
    const double expected = 0.25 * std::exp(-0.06) * (1.0 - std::exp(-20.0 * dy * 0.03)) / dy;
    EXPECT_NEAR(r[0][0], expected, expected * 1e-5);
    const double level = 0.25 * 0.03 * std::exp(-0.06) * 10.0;
    EXPECT_NEAR(r[1][0], level, level * 1e-5);
    EXPECT_NEAR(r[2][0], level, level * 1e-5);
    EXPECT_EQ(r[3][0], 1.0f);
}

TEST(SceneShaderShading, MaterialTableAndFloorColour)
{
    std::vector<std::string> cases;
    for (int id = 0; id < 8; ++id)
        cases.push_back("vec3 albedo; vec3 params; materialLookup(vec3(0.0), " + glslFloat(id) +
                        ", vec3(0.0, 1.0, 0.0), albedo, params); result = vec4(params, albedo.x);");
    // The floor in the late light and on its way back.
    for (double t : {106.4, 130.0, 160.5, 170.0})
        cases.push_back(setTime(t) + " vec3 albedo; vec3 params; materialLookup(vec3(0.0), 0.0, vec3(0.0, 1.0, 0.0),"
                                     " albedo, params); result = vec4(albedo, lateWeight);");
    const auto r = probe(cases);
    // Only ids 1, 3, 4 and 7 are smooth enough to reflect (roughness < .5).
    const bool reflects[8] = {false, true, false, true, true, false, false, true};
    for (int id = 0; id < 8; ++id)
        EXPECT_EQ(r[id][2] < 0.5f, reflects[id]) << "material " << id;
    EXPECT_EQ(r[6][2], 0.5f);
    EXPECT_EQ(r[5][1], 1.0f);
    EXPECT_NEAR(r[4][3], 0.04, 1e-7);

    EXPECT_NEAR(r[8][0], 0.04, 1e-7);  // before 106.5 s: the red floor
    EXPECT_EQ(r[8][3], 0.0f);
    EXPECT_NEAR(r[9][0], 0.07, 1e-7);  // late: (.07, .09, .11), not scaled
    EXPECT_NEAR(r[9][2], 0.11, 1e-7);
    EXPECT_EQ(r[9][3], 1.0f);
    EXPECT_NEAR(r[10][3], 0.5, 1e-6);
    EXPECT_NEAR(r[11][0], 0.04, 1e-7);
    EXPECT_EQ(r[11][3], 0.0f);
}

TEST(SceneShaderFrame, LateWeightFallsFrom154To167AndStartsAt106Point5)
{
    std::vector<std::string> cases;
    const double times[] = {0.0, 106.49, 106.5, 130.0, 154.0, 157.0, 160.5, 164.0, 167.0, 180.0};
    for (double t : times)
        cases.push_back(setTime(t) + " result = vec4(lateWeight, 0.0, 0.0, 0.0);");
    const auto r = probe(cases);
    auto falling = [](double t) {
        const double s = std::clamp((t - 167.0) / (154.0 - 167.0), 0.0, 1.0);
        return s * s * (3 - 2 * s);
    };
    EXPECT_EQ(r[0][0], 0.0f);
    EXPECT_EQ(r[1][0], 0.0f);  // a rising smoothstep would give 1 here
    EXPECT_EQ(r[2][0], 1.0f);
    EXPECT_EQ(r[3][0], 1.0f);
    EXPECT_EQ(r[4][0], 1.0f);
    for (int i = 5; i < 10; ++i)
        EXPECT_NEAR(r[i][0], falling(times[i]), 1e-5) << "t = " << times[i];
    EXPECT_NEAR(r[6][0], 0.5, 1e-5);
    EXPECT_GT(r[5][0], r[7][0]);
}

TEST(SceneShaderFrame, CameraShotsChangeExactlyAtTheirStart)
{
    const double starts[] = {27.0, 61.9, 70.3, 75.5, 106.5, 146.5, 168.0};
    std::vector<std::string> cases;
    for (double t : starts)
        cases.push_back("vec3 pos; float focal; float pitch; float yaw;"
                        " float before = float(cameraShot(" + glslFloat(t - 0.001) + ", pos, focal, pitch, yaw));"
                        " float at = float(cameraShot(" + glslFloat(t) + ", pos, focal, pitch, yaw));"
                        " result = vec4(before, at, 0.0, 0.0);");
    // Shot 8 repeats the end state of shot 2.
    cases.push_back("vec3 a; float fa; float pa; float ya; vec3 b; float fb; float pb; float yb;"
                    " cameraShot(60.0, a, fa, pa, ya); cameraShot(175.0, b, fb, pb, yb);"
                    " result = vec4(length(a - b), fa - fb, pa - pb, ya - yb);");
    const auto r = probe(cases);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(r[i][0], static_cast<float>(i + 1)) << "just before " << starts[i] << " s";
        EXPECT_EQ(r[i][1], static_cast<float>(i + 2)) << "at " << starts[i] << " s";
    }
    EXPECT_NEAR(r[7][0], 0.0, 1e-6);
    EXPECT_EQ(r[7][1], 0.0f);
    EXPECT_NEAR(r[7][2], 0.0, 1e-6);
    EXPECT_NEAR(r[7][3], 0.0, 1e-6);
}

// The time line that the messages name, read from the same text: the scene
// starts of the cuts above but shot 5's, and the flash at scene 5.
TEST(SceneShaderFrame, TimeLineReadFromTheText)
{
    const double sceneStarts[] = {0.0, 27.0, 61.9, 70.3, 106.5, 146.5, 168.0};
    for (int scene = 1; scene <= SCENE_COUNT; ++scene)
        EXPECT_EQ(sceneStartSeconds(scene), sceneStarts[scene - 1]) << "scene " << scene;
    EXPECT_EQ(flashSeconds(), 106.5);
    EXPECT_EQ(secondsText(flashSeconds().value_or(0.0)), "106.5");
    EXPECT_EQ(secondsText(185.0), "185");
    EXPECT_EQ(secondsText(61.9), "61.9");
}

// The same boundaries reached as the host reaches them: milliseconds in the
// fog end, turned into seconds by the shader.
TEST(SceneShaderFrame, CameraShotsFromTheHostsMilliseconds)
{
    const std::uint32_t startsMs[] = {27000, 61900, 70300, 75500, 106500, 146500, 168000};
    const std::string shotCase =
        "vec3 pos; float focal; float pitch; float yaw;"
        " result = vec4(float(cameraShot(sceneTime, pos, focal, pitch, yaw)), sceneTime, 0.0, 0.0);";
    for (int i = 0; i < 7; ++i) {
        const auto before = probe({shotCase}, startsMs[i] - 1);
        const auto at = probe({shotCase}, startsMs[i]);
        EXPECT_EQ(before[0][0], static_cast<float>(i + 1)) << startsMs[i] - 1 << " ms";
        EXPECT_EQ(at[0][0], static_cast<float>(i + 2)) << startsMs[i] << " ms";
        EXPECT_NEAR(at[0][1], startsMs[i] * 0.001, 1e-4);
    }
}

TEST(SceneShaderGeometry, SceneWindowsAwayFromEveryObject)
{
    // With marchBounds false, a point outside every bounding sphere sees
    // the floor, or in scene 5 (no floor) the absent polyhedron's 1000, or
    // the dome in scene 4.
    const std::string far = "point = " + glslVec3(60.0, 4.0, 200.0) + ";";
    std::vector<std::string> cases;
    for (double t : {10.0, 40.0, 65.0, 80.0, 120.0, 150.0, 175.0})
        cases.push_back(setTime(t) + far);
    // Scene 4: just under the dome's lowest point (0, 11.5, 400).
    cases.push_back(setTime(80.0) + " point = vec3(0.0, 11.0, 400.0);");
    // During the view march the giants' spheres show from afar (scene 2):
    // 280 above their centre (0, 120, 400) the larger one, of radius
    // 1.16 * 103 * 1.55, is the nearest, plus .05 in its own scale.
    cases.push_back(setTime(40.0) + " marchBounds = true; point = vec3(0.0, 400.0, 400.0);");
    const auto r = probe(cases, 0, "vec3 point;", "result = vec4(sceneDistance(point), hitMaterial, 0.0, 0.0);");
    const float floorIds[] = {0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 7; ++i) {
        if (i == 4) {
            EXPECT_EQ(r[i][0], 1000.0f) << "scene 5 has no floor";
        } else {
            EXPECT_NEAR(r[i][0], 4.0, 1e-5) << "window " << i;
            EXPECT_EQ(r[i][1], floorIds[i]);
        }
    }
    EXPECT_NEAR(r[7][0], 0.5, 1e-3);
    EXPECT_EQ(r[7][1], 5.0f);
    EXPECT_NEAR(r[8][0], 280.0 - 1.16 * 103.0 * 1.5, 1e-3);
    EXPECT_EQ(r[8][1], 4.0f);  // the second giant's id, polyMaterial + 2
}

}  // namespace
