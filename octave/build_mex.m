function build_mex (varargin)
% BUILD_MEX  Builds the regmex plug-ins in the host that runs it.
%
%   build_mex
%   build_mex('-I/opt/opencv/include/opencv4', '-L/opt/opencv/lib')
%   build_mex(..., 'outdir', FOLDER)
%   build_mex('driftfield', ...)
%   build_mex('-n', ...)
%
%   In GNU Octave the plug-ins are built with mkoctfile --mex; in MATLAB
%   with mex -largeArrayDims: the API of mex's default mode (R2017b: size_t
%   sizes, separate complex storage, the _730 entry points), by a flag that
%   older releases accept too.  Every plug-in compiles in that mode, and
%   imports only names MATLAB exports, by a test (never run in MATLAB).
%   OpenCV 4 (core, imgproc, imgcodecs, with the C interface headers) is
%   found through pkg-config where it exists, else in
%   /usr/include/opencv4 and the system library folders; give -I and -L
%   arguments to point elsewhere.  The MEX files and their help files go to
%   FOLDER, by default build/mex at the top of the source tree, with the
%   m-functions of octave/functions (tpsfit.m, tmatchpeak.m,
%   tpsregister.m); add that folder to the path to use them.
%
%   The plug-ins are the top-level folders of the source tree that hold a
%   Sources.txt and a help file named after the folder; what each compiles
%   and links is read from its Sources.txt (docs/Sources.md describes the
%   format).  A folder holding only one of the two, a faulty description or
%   a missing source stops the build before anything is built.
%
%   Plug-in names among the arguments build only those.  OpenCV is looked
%   for only when one of them links it: driftfield needs none, so
%   build_mex('driftfield') builds it anywhere a C++ compiler is set up (on
%   Windows, driftfield.mexw64).
%
%   Every command is printed before it runs; with '-n' the commands are
%   printed and none is run.  Missing tools stop the build with a message
%   naming what is missing.

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  outdir = fullfile (root, 'build', 'mex');
  includes = {};
  libdirs = {};
  all_plugins = find_plugins (root);
  plugins = {};
  dry = false;
  k = 1;
  while k <= numel (varargin)
    a = varargin{k};
    if (strcmp (a, 'outdir') && k < numel (varargin))
      outdir = varargin{k + 1};
      k = k + 2;
      continue;
    elseif (strcmp (a, '-n'))
      dry = true;
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
  descriptions = cell (size (plugins));
  uses_opencv = false (size (plugins));
  for p = 1:numel (plugins)
    descriptions{p} = read_sources (root, plugins{p});
    uses_opencv(p) = any (strncmp (descriptions{p}.libs, 'opencv_', 7));
  end

  isOctave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;
  check_compiler (isOctave);
  if (any (uses_opencv))
    [includes, libdirs] = find_opencv (includes, libdirs);
  end
  if (~dry && ~exist (outdir, 'dir'))
    mkdir (outdir);
  end

  cvinc = strcat ('-I', includes);
  cvlib = strcat ('-L', libdirs);
  for p = 1:numel (plugins)
    name = plugins{p};
    d = descriptions{p};
    libs = d.libs;
    if (ispc ())
      % std::thread needs no library of its own on Windows, and Visual C++
      % has no pthread library to link; nor has Windows a libdl (the
      % interrupt lookup uses its own module functions there).
      libs = libs(~strcmp (libs, 'pthread') & ~strcmp (libs, 'dl'));
    end
    incflags = {['-I' fullfile(root, name)], ['-I' fullfile(root, 'bridge')]};
    libflags = strcat ('-l', libs);
    if (uses_opencv(p))
      incflags = [incflags, cvinc];
      libflags = [cvlib, libflags];
    end
    if (isOctave)
      build_octave (name, d.sources, incflags, libflags, outdir, dry);
    else
      % mex's default mode, named so a later default cannot change it:
      % separate complex storage as in Octave and the embedded host, which
      % the tests cover; -R2018a (interleaved, R2018a on) would do for our
      % calls too (mxGetPr stays legal there) but not on older releases.
      args = [{'-largeArrayDims', '-outdir', outdir, '-output', name}, incflags, d.sources, libflags];
      show ('mex', args);
      if (~dry)
        mex (args{:});
      end
    end
    copy (fullfile (root, name, [name '.m']), outdir, dry);
  end
  % The m-functions that go with the plug-ins: all of octave/functions.
  mfunctions = dir (fullfile (here, 'functions', '*.m'));
  for k = 1:numel (mfunctions)
    copy (fullfile (here, 'functions', mfunctions(k).name), outdir, dry);
  end
  if (dry)
    fprintf ('regmex: would build %s in %s\n', strjoin (plugins, ', '), outdir);
  else
    fprintf ('regmex: built %s in %s\n', strjoin (plugins, ', '), outdir);
  end
end

function names = find_plugins (root)
  % The top-level folders holding a Sources.txt or a help file named after
  % the folder; each must hold both, so that a lost file stops the build
  % rather than leaving its plug-in out.
  entries = dir (root);
  names = {};
  for k = 1:numel (entries)
    name = entries(k).name;
    if (~entries(k).isdir || name(1) == '.')
      continue;
    end
    files = {fullfile(root, name, 'Sources.txt'), fullfile(root, name, [name '.m'])};
    present = [exist(files{1}, 'file'), exist(files{2}, 'file')] == 2;
    if (any (present))
      if (~all (present))
        error ('regmex:build', 'build_mex: %s is missing', files{~present});
      end
      names{end + 1} = name;
    end
  end
  names = sort (names);
end

function copy (file, outdir, dry)
  show ('copy', {file, outdir});
  if (~dry)
    copyfile (file, outdir);
  end
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

function d = read_sources (root, name)
  % The plug-in's Sources.txt (docs/Sources.md): its shell, core and bridge
  % files (full paths, in that order) and its libraries.
  file = fullfile (root, name, 'Sources.txt');
  [fid, msg] = fopen (file, 'r');
  if (fid < 0)
    error ('regmex:build', 'build_mex: cannot read %s: %s', file, msg);
  end
  text = fread (fid, Inf, 'char=>char')';
  fclose (fid);
  lists = struct ('shell', {{}}, 'core', {{}}, 'bridge', {{}}, 'libs', {{}});
  lines = strsplit (strrep (text, char (13), ''), char (10));
  for k = 1:numel (lines)
    line = lines{k};
    bare = strtrim (line);
    if (~isempty (bare) && bare(1) ~= '#')
      t = regexp (line, '^(shell|core|bridge|libs):(.*)$', 'tokens', 'once');
      if (isempty (t))
        error ('regmex:build', 'build_mex: %s line %d is not a shell:, core:, bridge: or libs: line: %s', ...
               file, k, line);
      end
      words = regexp (t{2}, '\S+', 'match');
      lists.(t{1}) = [lists.(t{1}), words];
    end
  end
  if (isempty (lists.shell))
    error ('regmex:build', 'build_mex: %s names no shell: files', file);
  end
  folders = {fullfile(root, name), fullfile(root, name), fullfile(root, 'bridge')};
  keys = {'shell', 'core', 'bridge'};
  d.sources = {};
  for k = 1:numel (keys)
    for w = lists.(keys{k})
      path = fullfile (folders{k}, w{1});
      if (~exist (path, 'file'))
        error ('regmex:build', 'build_mex: %s names %s, which is missing', file, path);
      end
      d.sources{end + 1} = path;
    end
  end
  d.libs = lists.libs;
end

function build_octave (name, sources, incflags, libflags, outdir, dry)
  % Objects go to a private folder, not beside the sources.
  objdir = tempname ();
  if (~dry)
    mkdir (objdir);
    cleanup = onCleanup (@() rmdir (objdir, 's'));
  end
  objects = cell (1, numel (sources));
  for k = 1:numel (sources)
    [~, base] = fileparts (sources{k});
    objects{k} = fullfile (objdir, sprintf ('%s_%d.o', base, k));
    args = [{'--mex', '-c'}, incflags, {'-o', objects{k}, sources{k}}];
    show ('mkoctfile', args);
    if (dry)
      continue;
    end
    [out, status] = mkoctfile (args{:});
    if (status ~= 0)
      error ('regmex:build', 'build_mex: compiling %s failed:\n%s', sources{k}, out);
    end
  end
  args = [{'--mex', '-o', fullfile(outdir, [name '.mex'])}, objects, libflags];
  show ('mkoctfile', args);
  if (dry)
    return;
  end
  [out, status] = mkoctfile (args{:});
  if (status ~= 0)
    error ('regmex:build', 'build_mex: linking %s failed:\n%s', name, out);
  end
end

function show (tool, args)
  fprintf ('%s %s\n', tool, strjoin (args, ' '));
end
