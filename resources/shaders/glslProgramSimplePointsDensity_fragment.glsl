#version 330
// The density display: the density through the colour map, optionally in
// 11 steps with contour lines, or one of the advanced colourings.
uniform sampler1D colormapSampler;
uniform sampler2D pdfSampler;
uniform sampler2D msSampler;
uniform vec4 renderParams;   // 1 / max density, contours (> 0), visibility threshold, 1 / view side
uniform vec4 advancedParams; // w: advanced display mode

in vec4 vertexPosition;
out vec4 fragmentColor;

int stepOf(float normalized)
{
    return int(min(floor(normalized * 11.0), 10.0));
}

void main()
{
    vec2 uv = vertexPosition.xy;
    float h = renderParams.w / 2.0;
    float density = texture(pdfSampler, uv).r * renderParams.x;
    float alpha = density < renderParams.z ? 0.0 : 1.0;
    float t = density;
    bool boundary = false;
    vec3 advanced = vec3(1.0);

    if (renderParams.y > 0.0) {
        float right = texture(pdfSampler, uv + vec2(h, 0.0)).r;
        float left = texture(pdfSampler, uv - vec2(h, 0.0)).r;
        float up = texture(pdfSampler, uv + vec2(0.0, h)).r;
        float down = texture(pdfSampler, uv - vec2(0.0, h)).r;
        int rightStep = stepOf(right * renderParams.x);
        boundary = rightStep != stepOf(left * renderParams.x) || rightStep != stepOf(up * renderParams.x)
                   || rightStep != stepOf(down * renderParams.x);
        t = clamp(min(floor(t * 11.0), 10.0) / 10.0, 0.0, 1.0);

        float mode = advancedParams.w;
        if (mode > 2.5) {
            advanced = vec3(1.0 - abs(up - down) * renderParams.x * 50.0,
                            1.0 - abs(right - left) * renderParams.x * 50.0, 1.0);
        } else if (mode > 1.5) {
            advanced = vec3(1.0 - density);
        } else if (mode > 0.5) {
            vec2 target = texture(msSampler, uv).rg;
            if (target != vec2(0.0))
                advanced = mix(mix(vec3(0.0, 0.0, 1.0), vec3(1.0), target.x),
                               mix(vec3(1.0, 0.0, 0.0), vec3(0.0, 1.0, 0.0), target.x), target.y);
        }
    }

    vec3 color = texture(colormapSampler, t).rgb;
    if (boundary) {
        color *= 0.75;
        alpha = 1.0;
    }
    fragmentColor = advancedParams.w < 0.5 ? vec4(color, alpha) : vec4(advanced, alpha);
}
