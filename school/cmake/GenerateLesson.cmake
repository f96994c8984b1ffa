# Makes one lesson: an AES-128 encrypted HLS stream (H.264 + AAC, 2-second segments) with a
# test picture, its label and a running clock, and a sine tone of its own. SEGMENT_TYPE fmp4
# makes fragmented MP4 with an init section instead of MPEG-TS.
# In: FFMPEG KEYGEN ENCRYPT OUT ID SECONDS SOURCE HUE FREQUENCY LABEL SIZE NOISE BITRATE
#     SEGMENT_TYPE
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")

execute_process(COMMAND "${KEYGEN}" "tamix-lesson-key|${ID}" "${OUT}/key.bin"
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "key for ${ID} failed")
endif()
string(MD5 iv "tamix-lesson-iv|${ID}")
# The key address is a placeholder: the school fills in its real host and port when serving.
file(WRITE "${OUT}/keyinfo" "@KEY_URI@\n${OUT}/key.bin\n${iv}\n")
file(WRITE "${OUT}/label.txt" "${LABEL}")

if(NOT SIZE)
    set(SIZE 480x270)
endif()
if(SOURCE MATCHES "=")
    set(video "${SOURCE}:size=${SIZE}:rate=25:duration=${SECONDS}")
else()
    set(video "${SOURCE}=size=${SIZE}:rate=25:duration=${SECONDS}")
endif()
set(font "font='Noto Sans CJK SC'")
set(filters "hue=h=${HUE}")
if(NOISE)
    # Noise keeps the encoder near its bit rate, so the big lesson has big segments.
    string(APPEND filters ",noise=alls=${NOISE}:allf=t")
endif()
string(APPEND filters
    ",drawtext=${font}:textfile=${OUT}/label.txt:fontsize=h/7:fontcolor=white"
    ":box=1:boxcolor=black@0.6:boxborderw=12:x=(w-tw)/2:y=(h-th)/2"
    ",drawtext=${font}:text='%{pts\\:hms}':fontsize=h/14:fontcolor=yellow:x=12:y=h-th-12")
if(BITRATE)
    set(rate -preset ultrafast -b:v ${BITRATE} -maxrate ${BITRATE} -bufsize ${BITRATE})
else()
    set(rate -preset veryfast -crf 26)
endif()

if(SEGMENT_TYPE STREQUAL "fmp4")
    # ffmpeg cannot encrypt fMP4; the segments and the init section are encrypted below.
    set(segments -hls_segment_type fmp4 -hls_fmp4_init_filename init.mp4
        -hls_segment_filename "${OUT}/seg%05d.m4s")
else()
    set(segments -hls_key_info_file "${OUT}/keyinfo" -hls_segment_filename "${OUT}/seg%05d.ts")
endif()

execute_process(
    COMMAND "${FFMPEG}" -hide_banner -loglevel error -nostdin -y
        -f lavfi -i "${video}"
        -f lavfi -i "sine=frequency=${FREQUENCY}:sample_rate=44100:duration=${SECONDS}"
        -vf "${filters}"
        -c:v libx264 ${rate} -pix_fmt yuv420p -g 50 -keyint_min 50 -sc_threshold 0
        -c:a aac -b:a 64k -ac 1
        -f hls -hls_time 2 -hls_list_size 0 -hls_playlist_type vod
        ${segments}
        "${OUT}/index.m3u8"
    RESULT_VARIABLE rc)
file(REMOVE "${OUT}/keyinfo" "${OUT}/label.txt")
if(NOT rc EQUAL 0)
    file(REMOVE "${OUT}/index.m3u8")
    message(FATAL_ERROR "ffmpeg failed for lesson ${ID}")
endif()

if(SEGMENT_TYPE STREQUAL "fmp4")
    file(GLOB parts "${OUT}/init.mp4" "${OUT}/seg*.m4s")
    execute_process(COMMAND "${ENCRYPT}" "${OUT}/key.bin" ${iv} ${parts} RESULT_VARIABLE rc)
    file(READ "${OUT}/index.m3u8" playlist)
    # The key line comes before the map, so it applies to the encrypted init section too,
    # which makes the explicit IV mandatory.
    string(REPLACE "#EXT-X-MAP:"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"@KEY_URI@\",IV=0x${iv}\n#EXT-X-MAP:"
        keyed "${playlist}")
    if(NOT rc EQUAL 0 OR keyed STREQUAL playlist)
        file(REMOVE "${OUT}/index.m3u8")
        message(FATAL_ERROR "encrypting lesson ${ID} failed")
    endif()
    file(WRITE "${OUT}/index.m3u8" "${keyed}")
endif()
