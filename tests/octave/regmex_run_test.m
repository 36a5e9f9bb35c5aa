function status = regmex_run_test (name)
  % Runs the test script NAME and returns 0 when it raised no error, 1 otherwise.
  try
    feval (name);
    printf ("%s: passed\n", name);
    status = 0;
  catch err
    printf ("%s: FAILED\n  %s\n  identifier: %s\n", name, err.message, err.identifier);
    for k = 1:numel (err.stack)
      printf ("  at %s line %d\n", err.stack(k).name, err.stack(k).line);
    end
    status = 1;
  end
end
