#version 330
// Full-screen quads, rectangles and cluster centres: positions in the unit
// square, passed on for texture lookups.
uniform mat4 modelViewProjectionMatrix;

in vec4 position;
out vec4 vertexPosition;

void main()
{
    vertexPosition = position;
    gl_Position = modelViewProjectionMatrix * position;
}
