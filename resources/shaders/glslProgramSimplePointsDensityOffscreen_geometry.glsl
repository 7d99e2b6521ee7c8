#version 330
// One kernel square of half size sigma per active point.
layout(points) in;
layout(triangle_strip, max_vertices = 4) out;

uniform float sigma;

flat in int activeState[];
flat in float densityScale[];

out vec3 texCoords;

void main()
{
    if (activeState[0] <= 0)
        return;
    float scale = densityScale[0];
    vec4 center = gl_in[0].gl_Position;
    gl_Position = center + vec4(-sigma, sigma, 0.0, 0.0);
    texCoords = vec3(0.0, 1.0, scale);
    EmitVertex();
    gl_Position = center + vec4(-sigma, -sigma, 0.0, 0.0);
    texCoords = vec3(0.0, 0.0, scale);
    EmitVertex();
    gl_Position = center + vec4(sigma, sigma, 0.0, 0.0);
    texCoords = vec3(1.0, 1.0, scale);
    EmitVertex();
    gl_Position = center + vec4(sigma, -sigma, 0.0, 0.0);
    texCoords = vec3(1.0, 0.0, scale);
    EmitVertex();
    EndPrimitive();
}
