#version 330
// A shown point becomes a square of half size visParams.x times its scale.
layout(points) in;
layout(triangle_strip, max_vertices = 4) out;

uniform vec4 visParams;

flat in vec3 quadCenterScale[];
flat in float markerExpression[];
flat in int selectionState[];
flat in int activeState[];

out vec2 quadCoords;
flat out float quadExpression;
flat out int isSelected;
flat out vec2 quadCenter;

void corner(vec2 offset, vec2 coords)
{
    gl_Position = gl_in[0].gl_Position + vec4(offset, 0.0, 0.0);
    quadCoords = coords;
    quadExpression = markerExpression[0];
    isSelected = selectionState[0];
    quadCenter = quadCenterScale[0].xy;
    EmitVertex();
}

void main()
{
    if (activeState[0] <= 0)
        return;
    float s = visParams.x * quadCenterScale[0].z;
    corner(vec2(-s, s), vec2(-1.0, 1.0));
    corner(vec2(-s, -s), vec2(-1.0, -1.0));
    corner(vec2(s, s), vec2(1.0, 1.0));
    corner(vec2(s, -s), vec2(1.0, -1.0));
    EndPrimitive();
}
