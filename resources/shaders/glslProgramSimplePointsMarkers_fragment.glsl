#version 150
// Round points coloured by marker value, by file or by density cluster, with
// a halo ring that shows the selection.
uniform sampler1D colormapSampler;
uniform isampler2D clusterIdSampler;
uniform vec4 markerRange;     // min, max, max - min, point-scale factor
uniform vec4 visParams;       // size, opacity, halo size, advanced mode (< -0.5: normal)
uniform vec4 colormapParams;  // x > 0: discrete; y: preview flag
uniform ivec4 dataParams;     // cluster count, active marker, file count, active cluster

in vec2 quadCoords;
flat in float quadExpression;
flat in int isSelected;
flat in vec2 quadCenter;

out vec4 fragmentColor;

vec3 hsvToRgb(float hue, float saturation, float brightness)
{
    vec3 rgb = clamp(vec3(abs(6.0 * hue - 3.0) - 1.0, 2.0 - abs(6.0 * hue - 2.0), 2.0 - abs(6.0 * hue - 4.0)),
                     0.0, 1.0);
    return ((rgb - 1.0) * saturation + 1.0) * brightness;
}

void main()
{
    float d = length(quadCoords);
    float mask = 1.0 - smoothstep(0.98, 1.0, d);
    if (mask <= 0.0)
        discard;
    bool core = d < 1.0 - visParams.z;

    if (visParams.w < -0.5) {
        if (core) {
            float t;
            if (dataParams.y < 0) {
                t = quadExpression; // a file's texel centre, used as it is
            } else {
                t = markerRange.z > 0.0 ? clamp((quadExpression - markerRange.x) / markerRange.z, 0.0, 1.0) : 0.0;
                if (colormapParams.x > 0.0)
                    t = clamp(min(floor(t * 11.0), 10.0) / 10.0, 0.0, 1.0);
            }
            fragmentColor = vec4(texture(colormapSampler, t).rgb, visParams.y * mask);
        } else {
            fragmentColor = vec4(0.235, 0.588, 0.98, isSelected > 0 ? 0.75 * mask : 0.0);
        }
        return;
    }

    // Cluster colouring; grey without clusters or outside every cluster.
    vec3 color = vec3(0.5);
    int clusterId = texture(clusterIdSampler, quadCenter).r;
    if (dataParams.x > 0 && clusterId >= 0)
        color = hsvToRgb(float(clusterId) / float(dataParams.x), 0.5, 1.0);
    fragmentColor = vec4(color, core ? visParams.y * mask : 0.9 * mask);
}
