// Placeholder until the scene shader lands: shows the time as a slow colour ramp.
float sceneTime = gl_Fog.end * .001;
void main()
{
    vec2 uv = gl_FragCoord.xy / vec2(1920.0, 1080.0);
    gl_FragColor = vec4(uv, .5 + .5 * sin(sceneTime), 1.0);
}
