#version 330
// Round dots of one colour (visParams.yzw).
uniform vec4 visParams;

in vec2 quadCoords;
out vec4 fragmentColor;

void main()
{
    float alpha = 1.0 - smoothstep(0.98, 1.0, length(quadCoords));
    if (alpha <= 0.0)
        discard;
    fragmentColor = vec4(visParams.y, visParams.z, visParams.w, alpha);
}
