#version 330
// One point becomes a square of half size visParams.x (clip units).
layout(points) in;
layout(triangle_strip, max_vertices = 4) out;

uniform vec4 visParams;

out vec2 quadCoords;

void main()
{
    float s = visParams.x;
    vec4 center = gl_in[0].gl_Position;
    gl_Position = center + vec4(-s, s, 0.0, 0.0);
    quadCoords = vec2(-1.0, 1.0);
    EmitVertex();
    gl_Position = center + vec4(-s, -s, 0.0, 0.0);
    quadCoords = vec2(-1.0, -1.0);
    EmitVertex();
    gl_Position = center + vec4(s, s, 0.0, 0.0);
    quadCoords = vec2(1.0, 1.0);
    EmitVertex();
    gl_Position = center + vec4(s, -s, 0.0, 0.0);
    quadCoords = vec2(1.0, -1.0);
    EmitVertex();
    EndPrimitive();
}
