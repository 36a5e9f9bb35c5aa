function build_mex (varargin)
% BUILD_MEX  Builds the regmex plug-ins in the host that runs it.
%
%   build_mex
%   build_mex('-I/opt/opencv/include/opencv4', '-L/opt/opencv/lib')
%   build_mex(..., 'outdir', FOLDER)
%   build_mex('driftfield', ...)
%
%   In GNU Octave the plug-ins are built with mkoctfile --mex; in MATLAB
%   with mex -compatibleArrayDims (the 32-bit index API the sources are
%   written for).  OpenCV 4 (core, imgproc, imgcodecs, with the C
%   interface headers) is found through pkg-config where it exists, else in
%   /usr/include/opencv4 and the system library folders; give -I and -L
%   arguments to point elsewhere.  The MEX files and their help files go to
%   FOLDER, by default build/mex at the top of the source tree; add that
%   folder to the path to use them.
%
%   Plug-in names among the arguments build only those.  driftfield needs
%   no OpenCV: build_mex('driftfield') looks for none (on Windows it gives
%   driftfield.mexw64).
%
%   Every command is printed before it runs.  Missing tools stop the build
%   with a message naming what is missing.

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  outdir = fullfile (root, 'build', 'mex');
  includes = {};
  libdirs = {};
  all_plugins = {'tmatch', 'gridcorners', 'warpmatch', 'driftfield'};
  plugins = {};
  k = 1;
  while k <= numel (varargin)
    a = varargin{k};
    if (strcmp (a, 'outdir') && k < numel (varargin))
      outdir = varargin{k + 1};
      k = k + 2;
      continue;
    elseif (strncmp (a, '-I', 2))
      includes{end + 1} = a(3:end);
    elseif (strncmp (a, '-L', 2))
      libdirs{end + 1} = a(3:end);
    elseif (any (strcmp (a, all_plugins)))
      plugins{end + 1} = a;
    else
      error ('regmex:build', 'build_mex: unknown argument "%s"', a);
    end
    k = k + 1;
  end

  if (isempty (plugins))
    plugins = all_plugins;
  end
  plugins = all_plugins(ismember (all_plugins, plugins));
  % driftfield takes only the argument checks and the vector search of the
  % bridge, and no image library.
  needs_opencv = ~strcmp (plugins, 'driftfield');

  isOctave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;
  check_compiler (isOctave);
  if (any (needs_opencv))
    [includes, libdirs] = find_opencv (includes, libdirs);
  end
  if (~exist (outdir, 'dir'))
    mkdir (outdir);
  end

  bridge = list_sources (fullfile (root, 'bridge'));
  bridge_plain = {fullfile(root, 'bridge', 'MexArgs.cpp'), fullfile(root, 'bridge', 'VectorSearch.cpp')};
  for p = 1:numel (plugins)
    name = plugins{p};
    if (needs_opencv(p))
      sources = [list_sources(fullfile(root, name)), bridge];
      incflags = [{['-I' fullfile(root, 'bridge')]}, strcat('-I', includes)];
      libflags = [strcat('-L', libdirs), {'-lopencv_imgcodecs', '-lopencv_imgproc', '-lopencv_core'}];
    else
      sources = [list_sources(fullfile(root, name)), bridge_plain];
      incflags = {['-I' fullfile(root, 'bridge')]};
      libflags = {};
    end
    if (isOctave)
      build_octave (name, sources, incflags, libflags, outdir);
    else
      args = [{'-compatibleArrayDims', '-outdir', outdir, '-output', name}, incflags, sources, libflags];
      show ('mex', args);
      mex (args{:});
    end
    copyfile (fullfile (here, [name '.m']), fullfile (outdir, [name '.m']));
  end
  fprintf ('regmex: built %s in %s\n', strjoin (plugins, ', '), outdir);
end

function check_compiler (isOctave)
  if (isOctave)
    [status, cxx] = system ('mkoctfile -p CXX');
    if (status ~= 0)
      error ('regmex:build', ['build_mex: mkoctfile is missing; install the Octave ' ...
                              'development files (Debian: octave-dev)']);
    end
    cxx = strtrim (cxx);
    [status, ~] = system ([cxx ' --version']);
    if (status ~= 0)
      error ('regmex:build', 'build_mex: the C++ compiler "%s" is missing (Debian: g++)', cxx);
    end
  else
    cc = mex.getCompilerConfigurations ('C++', 'Selected');
    if (isempty (cc))
      error ('regmex:build', ['build_mex: no C++ compiler is set up for mex; ' ...
                              'run "mex -setup C++" first']);
    end
  end
end

function [includes, libdirs] = find_opencv (includes, libdirs)
  if (isempty (includes))
    [status, flags] = system ('pkg-config --cflags opencv4 2>/dev/null');
    if (status == 0)
      tokens = regexp (flags, '-I(\S+)', 'tokens');
      includes = cellfun (@(t) t{1}, tokens, 'UniformOutput', false);
      [~, libs] = system ('pkg-config --libs-only-L opencv4 2>/dev/null');
      tokens = regexp (libs, '-L(\S+)', 'tokens');
      libdirs = [libdirs, cellfun(@(t) t{1}, tokens, 'UniformOutput', false)];
    else
      includes = {'/usr/include/opencv4', '/usr/local/include/opencv4'};
    end
  end
  found = false;
  for k = 1:numel (includes)
    if (exist (fullfile (includes{k}, 'opencv2', 'core', 'core_c.h'), 'file'))
      includes = includes(k);
      found = true;
      break;
    end
  end
  if (~found)
    error ('regmex:build', ['build_mex: the OpenCV 4 headers (opencv2/core/core_c.h) are missing; ' ...
                            'install libopencv-core-dev, libopencv-imgproc-dev and ' ...
                            'libopencv-imgcodecs-dev, or pass -I<folder holding opencv2>']);
  end
end

function files = list_sources (folder)
  d = dir (fullfile (folder, '*.cpp'));
  files = cellfun (@(n) fullfile (folder, n), {d.name}, 'UniformOutput', false);
end

function build_octave (name, sources, incflags, libflags, outdir)
  % Objects go to a private folder, not beside the sources.
  objdir = tempname ();
  mkdir (objdir);
  cleanup = onCleanup (@() rmdir (objdir, 's'));
  objects = cell (1, numel (sources));
  for k = 1:numel (sources)
    [~, base] = fileparts (sources{k});
    objects{k} = fullfile (objdir, sprintf ('%s_%d.o', base, k));
    args = [{'--mex', '-c'}, incflags, {'-o', objects{k}, sources{k}}];
    show ('mkoctfile', args);
    [out, status] = mkoctfile (args{:});
    if (status ~= 0)
      error ('regmex:build', 'build_mex: compiling %s failed:\n%s', sources{k}, out);
    end
  end
  args = [{'--mex', '-o', fullfile(outdir, [name '.mex'])}, objects, libflags, {'-lpthread'}];
  show ('mkoctfile', args);
  [out, status] = mkoctfile (args{:});
  if (status ~= 0)
    error ('regmex:build', 'build_mex: linking %s failed:\n%s', name, out);
  end
end

function show (tool, args)
  fprintf ('%s %s\n', tool, strjoin (args, ' '));
end
