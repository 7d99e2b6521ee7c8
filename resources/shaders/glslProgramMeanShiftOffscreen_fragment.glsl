#version 330
// Every grid cell walks uphill along the density gradient in fixed steps for
// a fixed number of steps; cells of one density peak end close together.
uniform sampler2D gradientSampler;
uniform vec4 renderParams; // step length in texels, unused, texel size x, y

in vec4 vertexPosition;
out vec4 fragmentColor;

const int WALK_STEPS = 10000;

vec2 stepFrom(vec2 p, vec2 gradient)
{
    return p + normalize(gradient) * renderParams.zw * renderParams.x;
}

void main()
{
    vec2 p = vertexPosition.xy;
    vec2 gradient = texture(gradientSampler, p).rg;
    if (gradient == vec2(0.0)) {
        fragmentColor = vec4(0.0);
        return;
    }
    // The walk is a fixed map of positions, so once a position repeats the
    // walk is periodic and its end follows without walking it (found by
    // comparing with positions saved at power-of-two steps). The result is
    // the position after WALK_STEPS steps either way.
    vec2 saved = p;
    int savedAt = 0;
    int nextSave = 1;
    for (int i = 1; i <= WALK_STEPS; ++i) {
        p = stepFrom(p, gradient);
        gradient = texture(gradientSampler, p).rg;
        if (gradient == vec2(0.0))
            break; // no direction here: the walk stays
        if (p == saved) {
            int remaining = (WALK_STEPS - i) % (i - savedAt);
            for (int k = 0; k < remaining; ++k)
                p = stepFrom(p, texture(gradientSampler, p).rg);
            break;
        }
        if (i == nextSave) {
            saved = p;
            savedAt = i;
            nextSave *= 2;
        }
    }
    fragmentColor = vec4(p, 1.0, 1.0);
}
